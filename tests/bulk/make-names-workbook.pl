#!/usr/bin/perl
# Writes a list of full names for the import by name matching: make-names-workbook.pl OUT.xls or
# OUT.xlsx. The names are in column A under a header; column B holds what must not be read.
use strict;
use warnings;
use utf8;
use Spreadsheet::WriteExcel;
use Excel::Writer::XLSX;

my $writer = $ARGV[0] =~ /\.xlsx$/i ? 'Excel::Writer::XLSX' : 'Spreadsheet::WriteExcel';
my $book = $writer->new($ARGV[0]) or die "cannot write $ARGV[0]\n";
my $sheet = $book->add_worksheet('Имена');
$sheet->write_string(0, 0, 'Име');
$sheet->write_string(1, 0, 'Иван Петров');
$sheet->write_string(1, 1, 'Не Се Чете');
$sheet->write_string(3, 0, ' Мария  Иванова ');
$book->close() or die "cannot close $ARGV[0]\n";
