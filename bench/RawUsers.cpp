#include "RawUsers.h"

#include "core/StoredText.h"

#include "db/Cp1251.h"

#include <QElapsedTimer>

#include "RawAttach.h"

#include <firebird/Interface.h>
#include <firebird/Message.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <vector>

namespace {

struct Span {
    std::uint32_t offset;
    std::uint32_t length;
};

// Texts of one column back to back; a null is a bit of its own.
struct TextColumn {
    std::vector<char> bytes;
    std::vector<Span> spans;
    std::vector<bool> nulls;

    template <unsigned N>
    void add(const Firebird::FbVarChar<N>& v, bool null)
    {
        nulls.push_back(null);
        const auto offset = static_cast<std::uint32_t>(bytes.size());
        const unsigned n = null ? 0 : v.length;
        bytes.insert(bytes.end(), v.str, v.str + n);
        spans.push_back({offset, n});
    }
    template <unsigned N>
    void addDecoded(const Firebird::FbVarChar<N>& v, bool null)
    {
        nulls.push_back(null);
        const auto offset = static_cast<std::uint32_t>(bytes.size());
        bytes.resize(offset + kStoredTextDecodedMax);
        const qsizetype n = null ? 0 : DecodeStoredBytes(v.str, v.length, bytes.data() + offset);
        bytes.resize(offset + static_cast<std::size_t>(n));
        spans.push_back({offset, static_cast<std::uint32_t>(n)});
    }
    std::size_t capacityBytes() const { return bytes.capacity() + spans.capacity() * sizeof(Span) + nulls.capacity() / 8; }
    QString text(std::size_t row) const { return cp1251::decode(bytes.data() + spans[row].offset, spans[row].length); }
};

// Case-insensitive order of windows-1251 bytes: each byte ranks by its case-folded character.
struct Ranks {
    unsigned char of[256];
    Ranks()
    {
        char16_t folded[256];
        for (int b = 0; b < 256; ++b)
            folded[b] = cp1251::charOf(static_cast<unsigned char>(b)).toCaseFolded().unicode();
        std::vector<char16_t> sorted(folded, folded + 256);
        std::sort(sorted.begin(), sorted.end());
        for (int b = 0; b < 256; ++b)
            of[b] = static_cast<unsigned char>(std::lower_bound(sorted.begin(), sorted.end(), folded[b]) - sorted.begin());
    }
};

} // namespace

RawUsers LoadUsersRaw(const QString& databasePath, const QString& sql)
{
    using namespace Firebird;
    IMaster* master = fb_get_master_interface();
    ThrowStatusWrapper st(master->getStatus());
    IAttachment* att = AttachEmbeddedRaw(st, databasePath);
    QElapsedTimer timer;
    timer.start();
    const unsigned char tpb[] = {isc_tpb_version3, isc_tpb_read, isc_tpb_read_committed, isc_tpb_rec_version, isc_tpb_nowait};
    ITransaction* tra = att->startTransaction(&st, sizeof tpb, tpb);

    FB_MESSAGE(Out, ThrowStatusWrapper,
               (FB_INTEGER, id)(FB_VARCHAR(72), rnm)(FB_VARCHAR(72), fnm)(FB_VARCHAR(20), flags)(FB_TIMESTAMP, expdate)
               (FB_VARCHAR(240), domainUser)(FB_VARCHAR(240), domainName)(FB_VARCHAR(240), domainSid)(FB_VARCHAR(72), fpw)
               (FB_BLOB, cert))
    out(&st, master);

    std::vector<std::int32_t> ids;
    TextColumn rnm, fnm, flags, domainUser, domainName, domainSid, fpw;
    std::vector<ISC_TIMESTAMP> expdate;
    std::vector<bool> expdateNull, certNull; // a certificate is read when asked for, as the list does

    const QByteArray text = cp1251::encode(sql);
    IResultSet* rs = att->openCursor(&st, tra, static_cast<unsigned>(text.size()), text.constData(), 1, nullptr, nullptr,
                                     out.getMetadata(), nullptr, 0);
    while (rs->fetchNext(&st, out.getData()) == IStatus::RESULT_OK) {
        ids.push_back(out->id);
        rnm.addDecoded(out->rnm, out->rnmNull);
        fnm.addDecoded(out->fnm, out->fnmNull);
        flags.add(out->flags, out->flagsNull);
        expdate.push_back(out->expdateNull ? ISC_TIMESTAMP{} : ISC_TIMESTAMP{out->expdate.date.value, out->expdate.time.value});
        expdateNull.push_back(out->expdateNull);
        domainUser.add(out->domainUser, out->domainUserNull);
        domainName.add(out->domainName, out->domainNameNull);
        domainSid.add(out->domainSid, out->domainSidNull);
        fpw.add(out->fpw, out->fpwNull);
        certNull.push_back(out->certNull);
    }
    rs->close(&st);
    tra->commit(&st);

    // Ascending by full name: integer keys of the first sixteen ranks, the texts only on ties.
    static const Ranks ranks;
    const std::size_t n = ids.size();
    struct Item {
        std::uint64_t key[2];
        std::uint32_t row;
    };
    std::vector<Item> items(n);
    for (std::size_t r = 0; r < n; ++r) {
        const Span s = rnm.spans[r];
        const auto* p = reinterpret_cast<const unsigned char*>(rnm.bytes.data() + s.offset);
        for (std::uint32_t w = 0; w < 2; ++w) {
            std::uint64_t key = 0;
            for (std::uint32_t i = w * 8; i < w * 8 + 8; ++i)
                key = (key << 8) | (i < s.length ? ranks.of[p[i]] : 0);
            items[r].key[w] = key;
        }
        items[r].row = static_cast<std::uint32_t>(r);
    }
    std::sort(items.begin(), items.end(), [&](const Item& a, const Item& b) {
        for (int w = 0; w < 2; ++w)
            if (a.key[w] != b.key[w])
                return a.key[w] < b.key[w];
        const Span sa = rnm.spans[a.row], sb = rnm.spans[b.row];
        const auto* pa = reinterpret_cast<const unsigned char*>(rnm.bytes.data() + sa.offset);
        const auto* pb = reinterpret_cast<const unsigned char*>(rnm.bytes.data() + sb.offset);
        const std::uint32_t m = std::min(sa.length, sb.length);
        for (std::uint32_t i = std::min<std::uint32_t>(m, 16); i < m; ++i)
            if (ranks.of[pa[i]] != ranks.of[pb[i]])
                return ranks.of[pa[i]] < ranks.of[pb[i]];
        if (sa.length != sb.length)
            return sa.length < sb.length;
        return a.row < b.row;
    });

    RawUsers result;
    result.ms = timer.nsecsElapsed() / 1e6;
    result.rows = n;
    if (n > 0) {
        result.firstName = rnm.text(items.front().row);
        result.lastName = rnm.text(items.back().row);
    }
    result.dataBytes = ids.capacity() * sizeof(std::int32_t) + expdate.capacity() * sizeof(ISC_TIMESTAMP) +
                       (expdateNull.capacity() + certNull.capacity()) / 8;
    for (const TextColumn* c : {&rnm, &fnm, &flags, &domainUser, &domainName, &domainSid, &fpw})
        result.dataBytes += c->capacityBytes();

    att->detach(&st);
    st.dispose();
    return result;
}
