#!/usr/bin/env python3
# Writes an OpenDocument workbook of the tests: make-ods.py [OUT] [SHAPE]. SHAPE:
#   users     (default; the committed users.ods) the import workbook
#   shapes    number formats as shown, formulas with and without a stored result, merged cells
#   lastrow   one user on the sheet's last row
#   beyond    a user below the sheet's last row
#   empty     a sheet without text
#   encrypted a workbook saved with a password
#   big       a sheet larger than any reader takes
import sys, zipfile, os

def p(text):
    return f'<text:p>{text}</text:p>'

def cell(v):
    # None: empty; str: text; int/float: a number shown as written; a tuple: (attributes, shown
    # text or None); ('covered', n): n covered cells of a merge.
    if v is None:
        return '<table:table-cell/>'
    if isinstance(v, tuple) and v[0] == 'covered':
        return f'<table:covered-table-cell table:number-columns-repeated="{v[1]}"/>' if v[1] > 1 else '<table:covered-table-cell/>'
    if isinstance(v, tuple):
        attrs, shown = v
        return f'<table:table-cell {attrs}>' + (p(shown) if shown is not None else '') + '</table:table-cell>'
    if isinstance(v, (int, float)):
        return f'<table:table-cell office:value-type="float" office:value="{v}">{p(v)}</table:table-cell>'
    return f'<table:table-cell office:value-type="string">{p(v)}</table:table-cell>'

def row(cells, repeat=1):
    r = f' table:number-rows-repeated="{repeat}"' if repeat > 1 else ''
    return f'<table:table-row{r}>' + ''.join(cell(v) for v in cells) + '</table:table-row>'

def num(value, shown, kind='float'):
    if kind == 'percentage':
        return (f'office:value-type="percentage" office:value="{value}"', shown)
    return (f'office:value-type="float" office:value="{value}"', shown)

def date(value, shown):
    return (f'office:value-type="date" office:date-value="{value}"', shown)

def time(value, shown):
    return (f'office:value-type="time" office:time-value="{value}"', shown)

shape = sys.argv[2] if len(sys.argv) > 2 else 'users'
body = ''
if shape == 'users':
    body = ''.join(row(r) for r in [
        ['Потребител', 'Име', 'Парола', 'Клас'],
        ['ivan', 'Иван Петров', 1234, 'Писар'],
        [None],
        ['  maria ', ' Мария Иванова ', None, None],
        ['alone'],
        ['real', 'Реално Число', 12.5],
    ])
elif shape == 'shapes':
    # As a spreadsheet program saves them: the value and the text it shows.
    body = ''.join(row(r) for r in [
        [num(42, '042'), 'Водещи Нули', num(579, '0579'), 'Писар'],
        ['pct', 'Процент', num(0.5, '50%', 'percentage'), num(0.125, '12.50%', 'percentage')],
        ['fixed', 'Десетични', num(12.5, '12.50'), num(1234567, '1,234,567')],
        ['date', 'Дата', date('2024-03-15', '15.03.2024'), date('2024-03-15', '2024-03-15')],
        ['time', 'Час', time('PT12H30M00S', '12:30'), time('PT12H30M00S', '12:30:00')],
        ['builtin', 'Вградени', date('2024-03-15', '15.03.2024'), num(0.5, '50%', 'percentage')],
        ['short', 'Кратка Дата', date('2024-03-15', '15/3/24'), num(1234.5, '1,234.50')],
        [('table:formula="of:=&quot;for&quot;&amp;&quot;mula&quot;" office:value-type="string" office:string-value="formula" calcext:value-type="string"', 'formula'),
         'Формула', ('table:formula="of:=1000+234" office:value-type="float" office:value="1234"', '1234'),
         ('table:formula="of:=40+2" office:value-type="float" office:value="42"', '0042')],
        ['sci', 'Непознат Формат', num(1234.5, '1234.5'), num(-3.5, '-3.5')],
        # Only in OpenDocument: formulas without a stored result and with an error, merged cells.
        ['nores', 'Без Резултат', ('table:formula="of:=1+1"', None), 'Писар'],
        ['err', 'Грешка', ('table:formula="of:=1/0" office:value-type="float" office:value="0" calcext:value-type="error"', '#DIV/0!')],
        [('table:number-columns-spanned="2" office:value-type="string"', 'Покрит Ред'), ('covered', 1), 'pw'],
        ['span', ('table:number-columns-spanned="3" office:value-type="string"', 'Обединени'), ('covered', 2), 'Писар'],
        [('table:number-columns-repeated="2" office:value-type="string"', 'два'), 'pw2', 'Писар'],
    ])
elif shape == 'lastrow':
    body = row([None], 1048575) + row(['last', 'Последен Ред']) 
elif shape == 'beyond':
    body = row([None], 1048576) + row(['beyond', 'Извън Листа'])
elif shape == 'empty':
    body = row([None, None], 3) + row([None], 1048573)
elif shape == 'big':
    body = row(['x' * (130 << 20)])
content = ('<?xml version="1.0" encoding="UTF-8"?>'
           '<office:document-content xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" '
           'xmlns:table="urn:oasis:names:tc:opendocument:xmlns:table:1.0" '
           'xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" '
           'xmlns:calcext="urn:org:documentfoundation:names:experimental:calc:xmlns:calcext:1.0" office:version="1.2">'
           '<office:body><office:spreadsheet>'
           '<table:table table:name="Потребители">' + body + '</table:table>'
           '<table:table table:name="Друг"><table:table-row>' + cell('not read') + '</table:table-row></table:table>'
           '</office:spreadsheet></office:body></office:document-content>')
encryption = ''
if shape == 'encrypted':
    encryption = ('<manifest:encryption-data manifest:checksum-type="SHA1/1K" manifest:checksum="AAAA">'
                  '<manifest:algorithm manifest:algorithm-name="Blowfish CFB" manifest:initialisation-vector="AAAA"/>'
                  '<manifest:key-derivation manifest:key-derivation-name="PBKDF2" manifest:key-size="16" '
                  'manifest:iteration-count="1024" manifest:salt="AAAA"/></manifest:encryption-data>')
    content = os.urandom(2048)
manifest = ('<?xml version="1.0" encoding="UTF-8"?>'
            '<manifest:manifest xmlns:manifest="urn:oasis:names:tc:opendocument:xmlns:manifest:1.0" manifest:version="1.2">'
            '<manifest:file-entry manifest:full-path="/" manifest:media-type="application/vnd.oasis.opendocument.spreadsheet"/>'
            '<manifest:file-entry manifest:full-path="content.xml" manifest:media-type="text/xml">' + encryption +
            '</manifest:file-entry></manifest:manifest>')
out = sys.argv[1] if len(sys.argv) > 1 else 'users.ods'
with zipfile.ZipFile(out, 'w') as z:
    z.writestr(zipfile.ZipInfo('mimetype'), 'application/vnd.oasis.opendocument.spreadsheet', compress_type=zipfile.ZIP_STORED)
    z.writestr('META-INF/manifest.xml', manifest, compress_type=zipfile.ZIP_DEFLATED)
    z.writestr('content.xml', content, compress_type=zipfile.ZIP_DEFLATED)
