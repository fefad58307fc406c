#!/usr/bin/perl
# Makes a manual page written in Chinese break lines as Chinese text breaks: groff knows no
# break points between ideographs, so a break point (\:) goes after each one, except before
# closing and after opening punctuation; a text line ending in one joins the next without
# the space a line end would make (\c). Comments and requests are left as they are, and so is
# text between .nf and .fi, whose line ends are its own.
#   perl roff-cjk.pl SOURCE OUTPUT
use strict;
use warnings;
use utf8;
open(my $in, '<:encoding(UTF-8)', $ARGV[0]) or die "$ARGV[0]: $!";
open(my $out, '>:encoding(UTF-8)', $ARGV[1]) or die "$ARGV[1]: $!";
my @lines = <$in>;
my $cjk = qr/[\p{Han}\x{3000}-\x{303F}\x{FF00}-\x{FFEF}\x{2018}-\x{201D}]/;
my $opening = qr/[\x{FF08}\x{201C}\x{2018}\x{300C}\x{300E}\x{3008}\x{300A}]/;
my $closing = qr/[\x{3001}\x{3002}\x{FF0C}\x{FF1B}\x{FF1A}\x{FF09}\x{FF01}\x{FF1F}\x{201D}\x{2019}\x{300D}\x{300F}\x{3009}\x{300B}]/;
my $nofill = 0;
for my $i (0 .. $#lines) {
    my $line = $lines[$i];
    $nofill = 1 if $line =~ /^\.nf\b/;
    $nofill = 0 if $line =~ /^\.fi\b/;
    if (!$nofill && $line !~ /^[.']/) {
        $line =~ s/(?!$opening)($cjk)(?=[^\s\\]|\\[fB(])(?!$closing)/$1\\:/g;
        my $next = $i < $#lines ? $lines[$i + 1] : '.';
        $line =~ s/($cjk)\n\z/$1\\c\n/ if $next !~ /^[.'\n]/;
    }
    print $out $line;
}
