#include "app/AppCommandLine.h"

#include <QUrl>

#ifndef DRAVIX_VERSION
#define DRAVIX_VERSION "0"
#endif

namespace {

bool is_help(const QString& a) { return a == QLatin1String("--help") || a == QLatin1String("-h"); }
bool is_version(const QString& a) { return a == QLatin1String("--version") || a == QLatin1String("-v"); }

bool is_link_scheme(const QString& scheme) {
    return scheme == QLatin1String("sftp") || scheme == QLatin1String("ftp") || scheme == QLatin1String("ftps");
}

// --help and --version before the first "--"; help wins.
AppCommandLine answered(const QStringList& arguments) {
    AppCommandLine line;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (a == QLatin1String("--")) break;
        if (is_help(a)) return {AppCommandLine::Action::help, AppCommandLine::help_text(), {}};
        if (is_version(a) && line.action == AppCommandLine::Action::run)
            line = {AppCommandLine::Action::version, AppCommandLine::version_text(), {}};
    }
    return line;
}

AppCommandLine invalid(const QString& why) {
    return {AppCommandLine::Action::invalid,
            QStringLiteral("dravix: %1\nTry 'dravix --help' for more information.\n").arg(why), {}};
}

}  // namespace

AppCommandLine AppCommandLine::early(const QStringList& arguments) { return answered(arguments); }

AppCommandLine AppCommandLine::parse(const QStringList& arguments) {
    AppCommandLine line = answered(arguments);
    if (line.action != Action::run) return line;
    bool options = true;
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& a = arguments[i];
        if (options && a == QLatin1String("--")) {
            options = false;
            continue;
        }
        // Other options are the web engine's (its switches, such as --disable-gpu, are read from
        // the app's arguments): left to it.
        if (options && a.startsWith(QLatin1Char('-'))) continue;
        const QUrl url(a, QUrl::StrictMode);
        if (!url.isValid() || !is_link_scheme(url.scheme()) || url.host().isEmpty())
            return invalid(QStringLiteral("cannot open '%1': give an sftp://, ftp:// or ftps:// link to a server")
                               .arg(without_password(a)));
        line.urls << a;
    }
    return line;
}

QString AppCommandLine::help_text() {
    return QStringLiteral(
        "Usage: dravix [OPTION] [URL...]\n"
        "An editor for web files on your own FTP, SFTP and WebDAV servers.\n"
        "\n"
        "URL: an sftp://, ftp:// or ftps:// link to a server (what the desktop hands over when such\n"
        "a link is clicked): the app starts, or the copy already running comes forward.\n"
        "\n"
        "Options:\n"
        "  -h, --help     show this help and end\n"
        "  -v, --version  show the version and end\n");
}

QString AppCommandLine::version_text() { return QStringLiteral("dravix " DRAVIX_VERSION "\n"); }

QString without_password(const QString& text) {
    QString out = text;
    for (qsizetype start = out.indexOf(QLatin1String("://")); start >= 0;
         start = out.indexOf(QLatin1String("://"), start + 3)) {
        qsizetype end = out.size();
        for (const QChar c : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
            const qsizetype at = out.indexOf(c, start + 3);
            if (at >= 0 && at < end) end = at;
        }
        const qsizetype at = out.lastIndexOf(QLatin1Char('@'), end - 1);
        const qsizetype colon = out.indexOf(QLatin1Char(':'), start + 3);
        if (at >= start + 3 && colon >= 0 && colon < at) out.remove(colon, at - colon);
    }
    return out;
}
