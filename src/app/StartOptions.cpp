#include "app/StartOptions.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

#include "common/ProgramInfo.h"

namespace {

constexpr int kExitUsage = 64;

constexpr const char* kDescription =
    "Configures and evaluates a radar presence-sensor module on a serial port:\n"
    "its detection parameters and parameter files, its live reports, recordings\n"
    "and their replay, and its firmware.";

// "7" or "COM7" (any letter case) as a port number; 0 for anything else.
int PortNumberFromArgument(QString text) {
    if (text.startsWith(QLatin1String("COM"), Qt::CaseInsensitive)) text = text.mid(3);
    bool ok = false;
    const int number = text.toInt(&ok);
    return ok && number > 0 ? number : 0;
}

int Print(std::FILE* stream, QString text, int exitCode) {
    // Without an application object Qt cannot name the program itself.
    text.replace(QLatin1String("<executable_name>"), QLatin1String(KVEL_PROGRAM_NAME));
    std::fputs(text.toLocal8Bit().constData(), stream);
    return exitCode;
}

}  // namespace

StartCommandLine ReadStartCommandLine(const QStringList& arguments) {
    QCoreApplication::setApplicationName(QStringLiteral(KVEL_PROGRAM_NAME));
    QCoreApplication::setApplicationVersion(QStringLiteral(KVEL_PROGRAM_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(kDescription));
    const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this help and end."));
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Show the program's version and end."));
    const QCommandLineOption port(
        QStringLiteral("port"),
        QStringLiteral("Select serial port N (\"7\" or \"COM7\") in \"Port No.\" at start."),
        QStringLiteral("N"));
    const QCommandLineOption connect(QStringLiteral("connect"),
                                     QStringLiteral("Connect to the selected port at start."));
    parser.addOptions({help, version, port, connect});

    StartCommandLine result;
    const auto end = [&result](int exitCode) {
        result.run = false;
        result.exitCode = exitCode;
        return result;
    };
    const auto usageError = [&](const QString& reason) {
        std::fprintf(stderr, "%s: %s\n", KVEL_PROGRAM_NAME, reason.toLocal8Bit().constData());
        return end(Print(stderr, parser.helpText(), kExitUsage));
    };
    if (!parser.parse(arguments)) return usageError(parser.errorText());
    if (parser.isSet(help)) return end(Print(stdout, parser.helpText(), 0));
    if (parser.isSet(version))
        return end(
            Print(stdout, QStringLiteral(KVEL_PROGRAM_NAME " " KVEL_PROGRAM_VERSION "\n"), 0));
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("unexpected argument \"%1\"").arg(parser.positionalArguments().first()));
    if (parser.isSet(port)) {
        result.options.port = PortNumberFromArgument(parser.value(port));
        if (result.options.port == 0)
            return usageError(
                QStringLiteral("--port takes a port number, not \"%1\"").arg(parser.value(port)));
    }
    result.options.connect = parser.isSet(connect);
    return result;
}
