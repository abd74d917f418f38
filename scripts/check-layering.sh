#!/usr/bin/env bash
# Every POSIX and Linux call lives in Sources/Platform, the thin Linux layer; the other modules
# read as plain logic on top of it. Lists each line elsewhere in Sources/ that includes a system
# header or calls the system directly, and fails when there is one.
# Usage: scripts/check-layering.sh
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

mapfile -t files < <(find Sources -path Sources/Platform -prune -o \
    -type f \( -name '*.cpp' -o -name '*.h' \) -print | sort)

perl -ne '
    BEGIN { $found = 0 }
    # Comments say what the code does not; only code counts.
    s{//.*$}{};
    my $system_header = qr{
        unistd\.h | fcntl\.h | poll\.h | sys/[\w/.]+ | dirent\.h | pwd\.h | grp\.h | signal\.h |
        csignal | cerrno | errno\.h | spawn\.h | dlfcn\.h | linux/[\w/.]+ | utf8proc\.h |
        curl/[\w/.]+ | plist/[\w/.]+ | systemd/[\w/.]+ | netinet/[\w/.]+ | arpa/[\w/.]+ |
        termios\.h | pthread\.h | sched\.h | semaphore\.h | glob\.h | fnmatch\.h | ftw\.h |
        netdb\.h | syslog\.h | wordexp\.h
    }x;
    my $system_call = qr{
        # A call of the C function itself, not of a member or of another namespace'"'"'s name.
        (?: ^ | [^\w.>:\s] | \breturn ) \s* (?: :: )? (?: poll | read | write | close | open ) \s* \(
        | \berrno\b
        | \bstd::signal \s* \( | (?<![\w>]) ::signal \s* \(
        | \bstd::remove \s* \( | (?<![\w>]) ::remove \s* \(
        | \butf8proc_\w+
    }x;
    if (/^\s*#\s*include\s*<($system_header)>/ || /$system_call/) {
        chomp;
        print "$ARGV:$.:$_\n";
        $found = 1;
    }
    close ARGV if eof; # line numbers per file
    END { exit $found }
' "${files[@]}" || {
    echo "System calls above Sources/Platform: move them into the layer." >&2
    exit 1
}
