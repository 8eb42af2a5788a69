#pragma once

#include <QString>

#include <firebird/Interface.h>

// The yardsticks' own attachment: an embedded database opened straight on the OO API, as
// SYSDBA with the WIN1251 connection character set, like the layer's connections.
inline Firebird::IAttachment* AttachEmbeddedRaw(Firebird::ThrowStatusWrapper& st, const QString& path)
{
    using namespace Firebird;
    IMaster* master = fb_get_master_interface();
    IProvider* prov = master->getDispatcher();
    IXpbBuilder* dpb = master->getUtilInterface()->getXpbBuilder(&st, IXpbBuilder::DPB, nullptr, 0);
    dpb->insertString(&st, isc_dpb_user_name, "SYSDBA");
    dpb->insertString(&st, isc_dpb_lc_ctype, "WIN1251");
    const QByteArray file = path.toUtf8();
    IAttachment* att = prov->attachDatabase(&st, file.constData(), dpb->getBufferLength(&st), dpb->getBuffer(&st));
    dpb->dispose();
    prov->release();
    return att;
}
