// Writes the manual page of one tilvex command from the command's own --help, so the two
// cannot drift apart:  manpage COMMAND VERSION COMMAND_HELP MAIN_HELP > tilvex-COMMAND.1
// The help's "Usage:" lines make the SYNOPSIS, its option lines ("  --name ...  text") the
// OPTIONS, its "Examples:" block the EXAMPLES, the main help's "Exit status:" paragraph the
// EXIT STATUS; every other line is the DESCRIPTION.
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

namespace {
std::vector<std::string> linesOf(const char* path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

// Text as roff wants it: backslashes and dashes escaped, no line starting a request.
std::string roff(const std::string& text) {
    std::string out;
    for (const char c : text) {
        if (c == '\\') {
            out += "\\e";
        } else if (c == '-') {
            out += "\\-";
        } else {
            out += c;
        }
    }
    const std::size_t first = out.find_first_not_of(' ');
    if (first != std::string::npos && (out[first] == '.' || out[first] == '\'')) {
        out.insert(first, "\\&");
    }
    return out;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(' ');
    return first == std::string::npos ? std::string() : text.substr(first, text.find_last_not_of(' ') - first + 1);
}

std::size_t indent(const std::string& line) {
    const std::size_t first = line.find_first_not_of(' ');
    return first == std::string::npos ? line.size() : first;
}

bool isOption(const std::string& line) { return line.size() > 3 && line.compare(0, 3, "  -") == 0; }
}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 5) {
        std::cerr << "usage: manpage COMMAND VERSION COMMAND_HELP MAIN_HELP\n";
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> help = linesOf(argv[3]);
    const std::vector<std::string> mainHelp = linesOf(argv[4]);
    if (help.empty() || mainHelp.empty()) {
        std::cerr << "manpage: no help read for " << command << "\n";
        return 1;
    }
    std::ostringstream synopsis, description, options, examples, exitStatus;
    enum class Part { Text, Option, Examples } part = Part::Text;
    bool paragraph = false;
    bool usage = false;  // the line before was of a Usage
    for (const std::string& line : help) {
        const std::string text = trimmed(line);
        const bool usageLine = line.rfind("Usage: ", 0) == 0 || (usage && text.rfind("tilvex ", 0) == 0);
        if (usageLine || (usage && text.rfind('[', 0) == 0)) {
            const std::string form = trimmed(line.rfind("Usage: ", 0) == 0 ? line.substr(7) : line);
            synopsis << (usageLine && synopsis.tellp() > 0 ? ".br\n" : "") << roff(form) << "\n";
            usage = true;
            part = Part::Text;
            continue;
        }
        usage = false;
        if (line == "Examples:") {
            part = Part::Examples;
            continue;
        }
        if (part == Part::Examples) {
            if (line.rfind("  tilvex ", 0) == 0) {
                examples << ".PP\n.nf\n" << roff(trimmed(line)) << "\n.fi\n";
            } else if (!trimmed(line).empty()) {
                examples << ".RS\n" << roff(trimmed(line)) << "\n.RE\n";
            }
            continue;
        }
        if (isOption(line)) {
            // The option's name and argument, then its text after a gap of two blanks.
            const std::string item = line.substr(2);
            const std::size_t gap = item.find("  ");
            options << ".TP\n.B " << roff(item.substr(0, gap)) << "\n";
            if (gap != std::string::npos) {
                options << roff(trimmed(item.substr(gap))) << "\n";
            }
            part = Part::Option;
            continue;
        }
        if (part == Part::Option && indent(line) >= 5) {
            options << roff(trimmed(line)) << "\n";
            continue;
        }
        part = Part::Text;
        if (trimmed(line).empty()) {
            if (paragraph) {
                description << ".PP\n";
            }
            paragraph = false;
            continue;
        }
        description << roff(trimmed(line)) << "\n";
        paragraph = true;
    }
    bool inExit = false;
    for (const std::string& line : mainHelp) {
        inExit = inExit ? !trimmed(line).empty() : line.rfind("Exit status:", 0) == 0;
        if (inExit) {
            exitStatus << roff(trimmed(line.rfind("Exit status:", 0) == 0 ? line.substr(12) : line)) << "\n";
        }
    }
    if (synopsis.tellp() == 0 || options.tellp() == 0 || examples.tellp() == 0 || exitStatus.tellp() == 0) {
        std::cerr << "manpage: the help of " << command << " lacks Usage, options, Examples or the exit status\n";
        return 1;
    }
    // NAME: what the main help's list of commands says of it.
    std::string name;
    for (const std::string& line : mainHelp) {
        if (name.empty() && line.rfind("  " + command + " ", 0) == 0) {
            const std::size_t gap = line.find("  ", 2 + command.size());
            name = gap == std::string::npos ? std::string() : trimmed(line.substr(gap));
        }
    }
    if (name.empty()) {
        std::cerr << "manpage: the main help lists no command " << command << "\n";
        return 1;
    }
    std::string upper = "TILVEX-" + command;
    for (char& c : upper) {
        c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
    }
    // No hyphenation: option names stay whole, as they are typed.
    std::cout << ".TH " << roff(upper) << " 1 \"\" \"tilvex " << argv[2] << "\" \"User Commands\"\n.nh\n"
              << ".SH NAME\ntilvex\\-" << roff(command) << " \\- " << roff(name) << "\n"
              << ".SH SYNOPSIS\n" << synopsis.str() << ".SH DESCRIPTION\n" << description.str() << ".SH OPTIONS\n"
              << options.str() << ".SH EXAMPLES\n" << examples.str() << ".SH EXIT STATUS\n" << exitStatus.str()
              << ".SH SEE ALSO\n.BR tilvex (1)\n";
    return 0;
}
