#!/usr/bin/perl
# Doxygen's input filter for the public headers (docs/api/Doxyfile.in): prints the header given
# as the last argument the way the API reference reads it. The first argument is the include
# folder.
#
#  - Tables without include guard (the X-macro .def files and their begin/end headers) are
#    pasted where they are included, so that Doxygen's preprocessor expands their rows into the
#    declarations the compiler sees. The rows of a table join its family's page.
#  - A declaration of an exported function joins the family page its name belongs to (the
#    table below); the declarations of routine.h join the routine page.
#  - Comments become documentation: the header's top comment its file text, a comment above a
#    declaration that declaration's text, a comment after it on the same line too. Section
#    rules ("// ---- ...") and tool directives stay plain comments. Characters Doxygen would
#    read as commands or markup are escaped, outside `code spans`.
#
# Line numbers of the header are kept up to its first pasted table.
use strict;
use warnings;

my ($include_dir, $header) = @ARGV;
die "usage: header_filter.pl INCLUDE_DIR HEADER\n" unless defined $header;

# Family page (group) of an exported function, by name; the first match wins.
my @families = (
  [qr/^VIO_(?:Get|Set)_(?!IO_Map_List$)/, 'named'],
  [qr/^(?:VIO_|IO_Map_Find$)/, 'lookup'],
  [qr/^(?:VHub_|VTimer_|FIFO$|MMAP$|MMAP_DB$)/, 'frame'],
  [qr/^VSystem_/, 'system'],
  [qr/^VGui_/, 'gui'],
  [qr/^VModule_/, 'module'],
  [qr/^VEnum_/, 'enum'],
  [qr/^VDriver_/, 'driver'],
  [qr/^VDigital_/, 'digital'],
  [qr/^VAnalog_/, 'analog'],
  [qr/^VString_/, 'string'],
  [qr/^(?:VFunction_|VFIFO_Engine_)/, 'function'],
  [qr/^VAlarm_/, 'alarm'],
  [qr/^VFA_/, 'host'],
  [qr/^VSCH_/, 'scheduler'],
  [qr/^(?:VStr_|VPrint|VTime_|VDB_)/, 'utility'],
);
# The classes of the closed libraries the frame hands out (FIFO(), MMAP()).
my %class_family = (VFIFO => 'frame', VMMAP => 'frame');
# Family of a table's rows, by the table's path below vexlor/.
my @table_families = (
  [qr{^points/digital_}, 'digital'],
  [qr{^points/analog_}, 'analog'],
  [qr{^points/string_}, 'string'],
  [qr{^alarms/}, 'alarm'],
  [qr{^named/}, 'named'],
  [qr{^host/}, 'host'],
  [qr{^scheduler/}, 'scheduler'],
);
# Headers whose every declaration belongs to one page.
my %header_family = ('routine.h' => 'routine');

sub family_of {
  my ($name) = @_;
  for my $f (@families) { return $f->[1] if $name =~ $f->[0]; }
  return undef;
}

sub read_lines {
  my ($path) = @_;
  open(my $fh, '<', $path) or die "header_filter.pl: $path: $!\n";
  my @lines = <$fh>;
  close $fh;
  return @lines;
}

sub guarded { return scalar grep { /^#pragma once/ } read_lines($_[0]); }

# Doxygen reads \ @ & $ # < > % as commands, HTML or link markers and -- as a dash; a * that
# does not start a list item can start emphasis. Code spans and quoted texts, which Doxygen
# prints as they are, are left alone.
sub escape_text {
  my ($text) = @_;
  my $marker = $text =~ s/^(\s*\* )// ? $1 : '';
  my @parts = split /(`[^`]*`|"[^"]*")/, $text;
  for my $p (@parts) {
    next if $p =~ /^[`"]/;
    $p =~ s/([\\@&\$#<>%*])/\\$1/g;
    $p =~ s/--/\\--/g;
  }
  return $marker . join '', @parts;
}

# Text indented under an empty comment line (not a list item) is an example or a table: it
# becomes a code block, shown as it is written.
my ($after_blank, $in_code) = (0, 0);
sub doc_text {
  my ($text) = @_;
  if ($text eq '') {
    $after_blank = 1;
    return '';
  }
  $in_code = ($after_blank || $in_code) && $text =~ /^ {2,}(?!- )/;
  $after_blank = 0;
  return $in_code ? "    $text" : escape_text($text);
}

sub plain_comment { return $_[0] =~ m{^\s*//\s*(?:-{4}|clang-format|NOLINT)}; }

# Pastes an unguarded table, recursively, inside its family's group (a table pasted into
# another one is already inside it).
my $pasting = 0;
sub paste_table {
  my ($relative) = @_;
  my $family;
  if (!$pasting) {
    for my $t (@table_families) { $family = $t->[1], last if $relative =~ $t->[0]; }
  }
  $pasting++;
  print "/** \\addtogroup $family\n \@{ */\n" if $family;
  for my $line (read_lines("$include_dir/vexlor/$relative")) {
    if ($line =~ m{^\s*#\s*include\s*<vexlor/([^>]+)>} && !guarded("$include_dir/vexlor/$1")) {
      paste_table($1);
      next;
    }
    print $line;
  }
  print "/** \@} */\n" if $family;
  $pasting--;
}

my ($header_name) = $header =~ m{/vexlor/(.+)$};
$header_name //= $header;
my $default_family = $header_family{$header_name};
my @lines = read_lines($header);

# The top comment: the comment lines before the first line of code.
my $top_end = 0;
$top_end++ while $top_end < @lines && $lines[$top_end] =~ m{^//};

my $in_define = 0;
for my $i (0 .. $#lines) {
  my $line = $lines[$i];
  if ($in_define) {
    $in_define = $line =~ /\\\s*$/;
    print $line;
    next;
  }
  if ($line =~ /^\s*#\s*define\b/) {
    $in_define = $line =~ /\\\s*$/;
    print $line;
    next;
  }
  if ($line =~ m{^\s*#\s*include\s*<vexlor/([^>]+)>} && !guarded("$include_dir/vexlor/$1")) {
    paste_table($1);
    next;
  }
  if ($i < $top_end) {
    my ($text) = $line =~ m{^//\s?(.*?)\s*$};
    my $doc = '/// ' . doc_text($text);
    $doc .= ' \file' if $i == $top_end - 1;
    print "$doc\n";
    next;
  }
  if ($line =~ m{^(\s*)//(.*?)\s*$} && !plain_comment($line)) {
    my ($indent, $text) = ($1, $2);
    $text =~ s/^ //;
    print $indent, '/// ', doc_text($text), "\n";
    next;
  }
  ($after_blank, $in_code) = (0, 0);
  # A comment after the code on the same line documents it.
  if ($line =~ m{^([^"/]*?;)\s*//\s?(.*?)\s*$}) {
    $line = "$1  ///< " . escape_text($2) . "\n";
  }
  my $group;
  if ($line =~ /^\s*VEXLOR_API\b[^(]*?(\w+)\s*\(/) {
    $group = family_of($1) // $default_family;
  } elsif ($line =~ /^(?:class|struct)\s+(?:VEXLOR_API\s+)?(\w+)\s*(?:[:{]|$)/) {
    $group = $class_family{$1} // $default_family;
  }
  $line = "/** \\ingroup $group */ $line" if $group;
  print $line;
}
