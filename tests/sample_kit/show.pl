# The sample kit's tool script: shows what the launcher handed over, then
# exits with the status asked for by an argument --exit=N (0 without one).
use strict;
use warnings;

my $status = 0;
print "script: $0\n";
print "arguments: ", scalar(@ARGV), "\n";
my $i = 0;
for my $arg (@ARGV) {
    print "  [$i] <$arg>\n";
    $status = $1 if $arg =~ /^--exit=(\d+)$/;
    $i++;
}

for my $key (qw(NORVEXCALVETTASDKROOT PERL_BADLANG PERL5LIB ORVANE_ROOTDIR)) {
    print "$key=", defined $ENV{$key} ? $ENV{$key} : "(unset)", "\n";
}

# The launcher puts its directories in front, separated by ';' as on Windows.
my @path = split /;/, defined $ENV{PATH} ? $ENV{PATH} : "";
my $shown = @path < 4 ? @path : 4;
print "PATH begins with:\n";
print "  $_\n" for @path[0 .. $shown - 1];

print "exit status: $status\n";
exit $status;
