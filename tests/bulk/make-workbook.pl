#!/usr/bin/perl
# Writes the import workbook of the tests: make-workbook.pl OUT.xls or OUT.xlsx (the writer by
# the extension; both have the same interface).
use strict;
use warnings;
use utf8;
use Spreadsheet::WriteExcel;
use Excel::Writer::XLSX;

my $writer = $ARGV[0] =~ /\.xlsx$/i ? 'Excel::Writer::XLSX' : 'Spreadsheet::WriteExcel';
my $book = $writer->new($ARGV[0]) or die "cannot write $ARGV[0]\n";
my $sheet = $book->add_worksheet('Потребители');
$sheet->write_string(0, 0, 'Потребител');
$sheet->write_string(0, 1, 'Име');
$sheet->write_string(0, 2, 'Парола');
$sheet->write_string(0, 3, 'Клас');
$sheet->write_string(1, 0, 'ivan');
$sheet->write_string(1, 1, 'Иван Петров');
$sheet->write_number(1, 2, 1234);
$sheet->write_string(1, 3, 'Писар');
$sheet->write_string(3, 0, '  maria ');
$sheet->write_string(3, 1, ' Мария Иванова ');
$sheet->write_string(4, 0, 'alone');
$sheet->write_string(5, 0, 'real');
$sheet->write_string(5, 1, 'Реално Число');
$sheet->write_number(5, 2, 12.5);
$book->add_worksheet('Друг')->write_string(0, 0, 'not read');
$book->close() or die "cannot close $ARGV[0]\n";
