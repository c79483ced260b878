// A stand-in for the encoder in tests. It takes the encoder's arguments, reads
// its behaviour from the "movie" (the argument after -noodml, or the first
// argument when there is none) and acts it out, one command per line:
//   out TEXT           write TEXT to stdout (escapes \r \n \t \\ \xHH)
//   err TEXT           write TEXT to stderr
//   fill N C           write N bytes of character C to stdout in one write
//   lines N TEXT       write "TEXT <i>\n" for i = 1..N to stderr
//   progress A B MS    one "Pos:" record per percent from A to B, MS apart
//   sleep MS           pause
//   touchout TEXT      write TEXT into the output file (the argument after -o)
//   copyout PATH       copy the file PATH (a real movie) to the output file
//   truncate N         cut the output file to its first N bytes
//   args PATH          write the arguments, one per line, to PATH
//   pidfile PATH       write the process id to PATH
//   info PATH          write "nice <n>\nsid <sid>\npid <pid>\nfds <list>\nmark <m>"
//                      to PATH (m: the CLIPVANE_OWNER variable)
//   onterm CODE        exit with CODE on SIGTERM (mencoder exits 2)
//   ignoreterm         ignore SIGTERM
//   hang               wait for a signal, forever
//   raise SIG          send itself signal SIG
//   exit CODE          exit with CODE
// Reaching the end of the script exits 0. A missing script: exit 1, like the
// encoder with a missing input.
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

namespace {

int g_termExitCode = 0;

void OnTerm(int)
{
    _exit(g_termExitCode);
}

void WriteAll(int fd, const std::string& text)
{
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n <= 0)
            return;
        done += static_cast<std::size_t>(n);
    }
}

std::string Unescape(const std::string& text)
{
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 1 < text.size()) {
            const char next = text[++i];
            if (next == 'x' && i + 2 < text.size()) {
                result += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
                i += 2;
                continue;
            }
            result += next == 'r' ? '\r' : next == 'n' ? '\n' : next == 't' ? '\t' : next;
        } else {
            result += text[i];
        }
    }
    return result;
}

std::string ArgumentAfter(const std::vector<std::string>& args, const char* option)
{
    for (std::size_t i = 1; i + 1 < args.size(); ++i)
        if (args[i] == option)
            return args[i + 1];
    return {};
}

void WriteFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

std::string OpenFds()
{
    std::string list;
    if (DIR* dir = opendir("/proc/self/fd")) {
        const int own = dirfd(dir);
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] == '.' || std::atoi(entry->d_name) == own)
                continue;
            list += std::string(entry->d_name) + " ";
        }
        closedir(dir);
    }
    return list;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv, argv + argc);
    std::string script = ArgumentAfter(args, "-noodml");
    if (script.empty() && argc > 1)
        script = args[1];
    const std::string output = ArgumentAfter(args, "-o");

    std::ostringstream text;
    {
        std::ifstream file(script, std::ios::binary);
        if (!file) {
            WriteAll(2, "Cannot open file/device.\n");
            return 1;
        }
        text << file.rdbuf();
    }
    std::istringstream in(text.str());
    std::string line;
    while (std::getline(in, line)) {
        std::istringstream words(line);
        std::string command;
        words >> command;
        std::string rest;
        std::getline(words, rest);
        if (!rest.empty() && rest[0] == ' ')
            rest.erase(0, 1);
        std::istringstream values(rest);
        if (command == "out") {
            WriteAll(1, Unescape(rest));
        } else if (command == "err") {
            WriteAll(2, Unescape(rest));
        } else if (command == "lines") {
            int count = 0;
            values >> count;
            std::string text;
            std::getline(values >> std::ws, text);
            for (int i = 1; i <= count; ++i)
                WriteAll(2, text + " " + std::to_string(i) + "\n");
        } else if (command == "fill") {
            std::size_t count = 0;
            char c = 'x';
            values >> count >> c;
            WriteAll(1, std::string(count, c));
        } else if (command == "progress") {
            int from = 0, to = 0, ms = 0;
            values >> from >> to >> ms;
            for (int p = from; p <= to; ++p) {
                char record[160];
                std::snprintf(
                    record, sizeof record,
                    "Pos: %5.1fs %6df (%2d%%)  0.00fps Trem:   0min   1mb  A-V:0.102 [171:71]\r",
                    p * 0.1, p * 2, p);
                WriteAll(1, record);
                usleep(static_cast<useconds_t>(ms) * 1000);
            }
        } else if (command == "sleep") {
            usleep(static_cast<useconds_t>(std::atoi(rest.c_str())) * 1000);
        } else if (command == "touchout") {
            WriteFile(output, rest);
        } else if (command == "copyout") {
            std::ifstream from(rest, std::ios::binary);
            std::ofstream(output, std::ios::binary) << from.rdbuf();
        } else if (command == "truncate") {
            (void)!truncate(output.c_str(), std::atol(rest.c_str()));
        } else if (command == "args") {
            std::string all;
            for (const std::string& arg : args)
                all += arg + "\n";
            WriteFile(rest, all);
        } else if (command == "pidfile") {
            WriteFile(rest, std::to_string(getpid()));
        } else if (command == "info") {
            WriteFile(rest,
                      "nice " + std::to_string(getpriority(PRIO_PROCESS, 0)) + "\nsid " +
                          std::to_string(getsid(0)) + "\npid " + std::to_string(getpid()) +
                          "\nfds " + OpenFds() + "\nmark " +
                          (std::getenv("CLIPVANE_OWNER") ? std::getenv("CLIPVANE_OWNER") : "") +
                          "\n");
        } else if (command == "onterm") {
            g_termExitCode = std::atoi(rest.c_str());
            std::signal(SIGTERM, OnTerm);
        } else if (command == "ignoreterm") {
            std::signal(SIGTERM, SIG_IGN);
        } else if (command == "hang") {
            for (;;)
                pause();
        } else if (command == "raise") {
            std::raise(std::atoi(rest.c_str()));
        } else if (command == "exit") {
            return std::atoi(rest.c_str());
        }
    }
    return 0;
}
