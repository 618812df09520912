#include "windowargs.h"

#include <QCommandLineParser>

#include <cstdio>

namespace {
void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fflush(stream);
}
}  // namespace

std::optional<int> HandleWindowArguments(const QCoreApplication& app) {
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Opens the Tilvex Converter window, which splits a bitmap into numbered 32 by 32 pixel tiles\n"
        "and compiles numbered tiles into one sheet. The batch program tilvex does the same\n"
        "without a window."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const bool parsed = parser.parse(app.arguments());
    // Qt's parser also offers --help-all; without Qt's own options to show, it is --help.
    if (parsed && (parser.isSet(help) || parser.isSet(QStringLiteral("help-all")))) {
        print(stdout, parser.helpText());
        return 0;
    }
    if (parsed && parser.isSet(version)) {
        print(stdout, QStringLiteral("%1 %2\n").arg(app.applicationName(), app.applicationVersion()));
        return 0;
    }
    if (parsed && parser.positionalArguments().isEmpty()) {
        return std::nullopt;
    }
    const QString problem = parsed ? QStringLiteral("unexpected argument '%1'").arg(parser.positionalArguments().first())
                                   : parser.errorText();
    print(stderr, QStringLiteral("%1: %2\nUsage: %1 [--help] [--version]\n").arg(app.applicationName(), problem));
    return 2;
}
