#!/usr/bin/perl
# Writes a workbook of the tests: make-workbook.pl OUT.xls|OUT.xlsx [SHAPE] (the writer by the
# extension; both have the same interface). SHAPE:
#   users    (default) the import workbook
#   inline   the same, its texts written as inline strings (.xlsx; the .xls is as users)
#   shapes   number formats and formulas with their stored results
#   lastrow  one user on the sheet's last row
#   empty    a sheet without cells
use strict;
use warnings;
use utf8;
use Spreadsheet::WriteExcel;
use Excel::Writer::XLSX;

my ($out, $shape) = (@ARGV, 'users');
my $xlsx = $out =~ /\.xlsx$/i;
my $writer = $xlsx ? 'Excel::Writer::XLSX' : 'Spreadsheet::WriteExcel';
my $book = $writer->new($out) or die "cannot write $out\n";
$book->set_optimization() if $xlsx && $shape eq 'inline';
my $sheet = $book->add_worksheet('Потребители');
if ($shape eq 'users' || $shape eq 'inline') {
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
} elsif ($shape eq 'shapes') {
    my %f;
    my $fmt = sub { my $c = shift; $f{$c} //= $book->add_format(num_format => $c) };
    # Each row: login, full name, password, class; a cell is a string, or [number, format], or
    # [formula, format, stored result].
    my @rows = (
        [[42, '000'], 'Водещи Нули', [579, '0000'], 'Писар'],
        ['pct', 'Процент', [0.5, '0%'], [0.125, '0.00%']],
        ['fixed', 'Десетични', [12.5, '0.00'], [1234567, '#,##0']],
        ['date', 'Дата', [45366, 'dd.mm.yyyy'], [45366, 'yyyy-mm-dd']],
        ['time', 'Час', [0.5208333333, 'hh:mm'], [0.5208333333, 'hh:mm:ss']],
        ['builtin', 'Вградени', [45366, 14], [0.5, 9]],
        ['short', 'Кратка Дата', [45366, 'd/m/yy'], [1234.5, 4]],
        [['="for"&"mula"', undef, 'formula'], 'Формула', ['=1000+234', undef, 1234], ['=40+2', '0000', 42]],
        ['sci', 'Непознат Формат', [1234.5, '0.00E+00'], [-3.5, '0.0']],
    );
    for my $r (0 .. $#rows) {
        for my $c (0 .. 3) {
            my $v = $rows[$r][$c];
            if (!ref $v) {
                $sheet->write_string($r, $c, $v);
            } elsif (@$v == 3) {
                $sheet->write_formula($r, $c, $v->[0], defined $v->[1] ? $fmt->($v->[1]) : undef, $v->[2]);
            } else {
                $sheet->write_number($r, $c, $v->[0], $fmt->($v->[1]));
            }
        }
    }
} elsif ($shape eq 'lastrow') {
    my $last = $xlsx ? 1048575 : 65535;
    $sheet->write_string($last, 0, 'last');
    $sheet->write_string($last, 1, 'Последен Ред');
} elsif ($shape ne 'empty') {
    die "unknown shape $shape\n";
}
$book->add_worksheet('Друг')->write_string(0, 0, 'not read');
$book->close() or die "cannot close $out\n";
