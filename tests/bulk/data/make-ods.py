#!/usr/bin/env python3
# Writes users.ods, the import workbook of the tests in the OpenDocument form.
import sys, zipfile

def cell(v):
    if v is None:
        return '<table:table-cell/>'
    if isinstance(v, (int, float)):
        return f'<table:table-cell office:value-type="float" office:value="{v}"><text:p>{v}</text:p></table:table-cell>'
    return f'<table:table-cell office:value-type="string"><text:p>{v}</text:p></table:table-cell>'

rows = [
    ['Потребител', 'Име', 'Парола', 'Клас'],
    ['ivan', 'Иван Петров', 1234, 'Писар'],
    [None],
    ['  maria ', ' Мария Иванова ', None, None],
    ['alone'],
    ['real', 'Реално Число', 12.5],
]
body = ''.join('<table:table-row>' + ''.join(cell(v) for v in r) + '</table:table-row>' for r in rows)
content = ('<?xml version="1.0" encoding="UTF-8"?>'
           '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
           'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
           'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" office:version="1.2">'
           '<office:body><office:spreadsheet>'
           '<table:table table:name="Потребители">' + body + '</table:table>'
           '<table:table table:name="Друг"><table:table-row>' + cell('not read') + '</table:table-row></table:table>'
           '</office:spreadsheet></office:body></office:document-content>')
manifest = ('<?xml version="1.0" encoding="UTF-8"?>'
            '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
            '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
            '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml"/>'
            '</manifest:manifest>')
out = sys.argv[1] if len(sys.argv) > 1 else 'users.ods'
with zipfile.ZipFile(out, 'w') as z:
    z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.spreadsheet', compress_type=zipfile.ZIP_STORED)
    z.writestr('META-INF/manifest.xml', manifest, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('content.xml', content, compress_type=zipfile.ZIP_DEFLATED)
