#include "process_watch.h"

namespace wkechr {

namespace {

// Kept to plain POSIX shell and util-linux's setsid. The browser is a background child of the
// watcher in a session of its own, so its id is its group's and the watcher stays outside it.
// Its ending is seen while it is still unreaped (a zombie holds its id): the group can be ended
// without reaching a stranger. The host's start time guards against a reused id.
constexpr char kWatcherScript[] =
    "set -f\n"
    "PATH=/usr/sbin:/usr/bin:/sbin:/bin\n"
    "exec </dev/null >/dev/null 2>&1\n"
    "h=$1 hs=$2 p=$3\n"
    "shift 3\n"
    "up() {\n"
    "  l=\n"
    "  read -r l <\"/proc/$1/stat\" || return 1\n"
    "  l=${l##*) }\n"
    "  set -- \"$1\" \"$2\" $l\n"
    "  case $3 in Z|X|x|'') return 1;; esac\n"
    "  [ -z \"$2\" ] || [ \"${22}\" = \"$2\" ]\n"
    "}\n"
    "since() {\n"
    "  l=\n"
    "  read -r l <\"/proc/$1/stat\" || return 1\n"
    "  l=${l##*) }\n"
    "  set -- $l\n"
    "  s=${20}\n"
    "}\n"
    // Without an id, the host is the process (not the Wine server) holding the mark file open.
    "if [ \"$h\" = 0 ]; then\n"
    "  set +f\n"
    "  for f in $(find -L /proc/[0-9]*/fd -maxdepth 1 -samefile \"$p/host.lock\" 2>/dev/null); do\n"
    "    q=${f#/proc/}; q=${q%%/*}\n"
    "    [ \"$q\" = $$ ] && continue\n"
    "    read -r c <\"/proc/$q/comm\" || continue\n"
    "    case $c in wineserver*) continue;; esac\n"
    "    since \"$q\" || continue\n"
    "    h=$q hs=$s\n"
    "    break\n"
    "  done\n"
    "  set -f\n"
    "fi\n"
    "host() { [ \"$h\" = 0 ] || up \"$h\" \"$hs\"; }\n"
    "setsid \"$@\" >\"$p/browser-output.txt\" 2>&1 &\n"
    "b=$!\n"
    "echo \"$b\" >\"$p/browser.pid.part\" && mv -f \"$p/browser.pid.part\" \"$p/browser.pid\"\n"
    "while up \"$b\" && host; do sleep 0.5; done\n"
    "if up \"$b\"; then\n"
    "  kill -TERM -\"$b\"\n"
    "  n=0\n"
    "  while up \"$b\" && [ \"$n\" -lt 10 ]; do sleep 0.1; n=$((n+1)); done\n"
    "fi\n"
    "kill -KILL -\"$b\"\n"
    "wait\n"
    "d=$(readlink \"$p/SingletonSocket\")\n"
    "case $d in */org.chromium.*/SingletonSocket) rm -rf -- \"${d%/*}\";; esac\n"
    "rm -rf -- \"$p\"\n";

bool ParseNumber(std::string_view text, uint64_t& out) {
    if (text.empty() || text.size() > 20) return false;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        uint64_t next = value * 10 + static_cast<uint64_t>(c - '0');
        if (next / 10 != value) return false;
        value = next;
    }
    out = value;
    return true;
}

}  // namespace

bool ParseProcStat(std::string_view text, ProcStat& out) {
    // "pid (comm) state ppid pgrp ..." where comm may itself hold spaces and parentheses.
    const size_t open = text.find(" (");
    const size_t close = text.rfind(") ");
    if (open == std::string_view::npos || close == std::string_view::npos || close < open) return false;
    uint64_t pid = 0;
    if (!ParseNumber(text.substr(0, open), pid) || pid == 0 || pid > 0x7FFFFFFF) return false;
    std::vector<std::string_view> fields;  // fields[0] is field 3, the state
    std::string_view rest = text.substr(close + 2);
    while (!rest.empty() && fields.size() < 20) {
        const size_t end = rest.find_first_of(" \n");
        fields.push_back(rest.substr(0, end));
        if (end == std::string_view::npos) break;
        rest = rest.substr(end + 1);
    }
    uint64_t group = 0, start = 0;
    if (fields.size() < 20 || fields[0].size() != 1 || !ParseNumber(fields[2], group) || group > 0x7FFFFFFF ||
        !ParseNumber(fields[19], start))
        return false;
    out.pid = static_cast<long>(pid);
    out.state = fields[0][0];
    out.processGroup = static_cast<long>(group);
    out.startTime = start;
    return true;
}

bool ParsePidFile(std::string_view text, long& pid) {
    const size_t end = text.find('\n');
    uint64_t value = 0;
    if (end == std::string_view::npos || !ParseNumber(text.substr(0, end), value) || value == 0 || value > 0x7FFFFFFF)
        return false;
    pid = static_cast<long>(value);
    return true;
}

std::vector<std::string> WatcherArguments(const WatchPlan& plan) {
    std::vector<std::string> arguments = {"/bin/sh", "-c", kWatcherScript, "wke-watch",
                                          std::to_string(plan.hostPid > 0 ? plan.hostPid : 0),
                                          std::to_string(plan.hostStartTime), plan.folder};
    arguments.insert(arguments.end(), plan.command.begin(), plan.command.end());
    return arguments;
}

std::string QuoteArgument(std::string_view argument) {
    if (!argument.empty() && argument.find_first_of(" \t\n\v\"") == std::string_view::npos) return std::string(argument);
    std::string out = "\"";
    size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        out.append(c == '"' ? backslashes * 2 + 1 : backslashes, '\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, '\\');
    return out + "\"";
}

std::string JoinCommandLine(const std::vector<std::string>& arguments) {
    std::string line;
    for (const auto& argument : arguments) {
        if (!line.empty()) line += ' ';
        line += QuoteArgument(argument);
    }
    return line;
}

}  // namespace wkechr
