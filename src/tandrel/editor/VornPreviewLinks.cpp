// The preview's scan of a page for the files it loads (VornPreviewSite::linked_paths), apart from
// the rest of the site: it reads text from the server, and stands alone on Qt's core so that it
// can be exercised without a window or a web engine.
#include <QRegularExpression>
#include <QStringList>
#include <set>

#include "platform/files/RemotePath.h"
#include "tandrel/editor/VornPreviewSite.h"

std::vector<std::string> VornPreviewSite::linked_paths(const std::string& from, const std::string& text, bool style_sheet) {
    // Only what loads for certain: <link> with rel stylesheet, icon or preload, <script src>,
    // <img src>, <iframe src>; in a sheet, @import. Never srcset (the engine picks one).
    static const QRegularExpression tag(QStringLiteral(R"re(<(link|script|img|iframe|base)\b([^>]*)>)re"),
                                        QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression attribute(QStringLiteral(R"re((?:^|\s)(href|src|rel)\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s"'>]+)))re"),
                                              QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression import(QStringLiteral(R"re(@import\s+(?:url\(\s*)?(?:"([^"]*)"|'([^']*)'|([^\s"')]+)))re"),
                                           QRegularExpression::CaseInsensitiveOption);
    const QString source = QString::fromStdString(text);
    std::vector<QString> links;
    if (style_sheet) {
        for (auto it = import.globalMatch(source); it.hasNext();) {
            const auto m = it.next();
            links.push_back(m.captured(1) + m.captured(2) + m.captured(3));
        }
    } else {
        for (auto it = tag.globalMatch(source); it.hasNext();) {
            const auto m = it.next();
            const QString name = m.captured(1).toLower();
            if (name == QLatin1String("base")) return {};  // links resolve against another address
            QString href, src, rel;
            for (auto a = attribute.globalMatch(m.captured(2)); a.hasNext();) {
                const auto v = a.next();
                const QString value = v.captured(2) + v.captured(3) + v.captured(4);
                const QString key = v.captured(1).toLower();
                if (key == QLatin1String("href")) href = value;
                else if (key == QLatin1String("src")) src = value;
                else rel = value.toLower();
            }
            if (name == QLatin1String("link")) {
                const QStringList rels = rel.split(QLatin1Char(' '), Qt::SkipEmptyParts);
                const bool loads = rels.contains(QLatin1String("stylesheet")) || rels.contains(QLatin1String("icon")) ||
                                   rels.contains(QLatin1String("preload"));
                if (loads && !rels.contains(QLatin1String("alternate"))) links.push_back(href);
            } else {
                links.push_back(src);
            }
        }
    }
    // Resolved as the engine resolves them, against the file's address on a site of its own.
    const QUrl base = web::site::address(QStringLiteral("read-ahead"), files::path::normalize(from));
    std::vector<std::string> out;
    std::set<std::string> seen;
    for (const QString& link : links) {
        const QString trimmed = link.trimmed();
        if (trimmed.isEmpty() || trimmed.startsWith(QLatin1Char('#'))) continue;
        const QUrl url = base.resolved(QUrl(trimmed));
        if (!url.isValid() || url.scheme() != base.scheme() || url.host() != base.host()) continue;
        // Decoded, the path may hold what no file of the site has ("%0a", a control character,
        // or a dot segment the address kept): such a path is not asked for.
        std::string path = files::path::normalize(url.path(QUrl::FullyDecoded).toStdString());
        if (files::path::check(path)) continue;
        if (seen.insert(path).second) out.push_back(std::move(path));
    }
    return out;
}
