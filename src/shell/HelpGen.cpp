// Build step: the README's user section (between "<!-- help -->" and "<!-- /help -->") as
// one HTML page, help.html, which the window shows on F1 and the package installs.
#include <QFile>
#include <QGuiApplication>
#include <QRegularExpression>
#include <QTextDocument>
#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 3) {
        fputs("usage: velmaris-helpgen README.md help.html\n", stderr);
        return 2;
    }
    // Fonts need an application; none needs a display.
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QFile in(QString::fromLocal8Bit(argv[1]));
    if (!in.open(QIODevice::ReadOnly)) {
        fprintf(stderr, "velmaris-helpgen: cannot read %s\n", argv[1]);
        return 1;
    }
    const QString readme = QString::fromUtf8(in.readAll());
    const qsizetype from = readme.indexOf(QStringLiteral("<!-- help -->"));
    const qsizetype to = readme.indexOf(QStringLiteral("<!-- /help -->"));
    if (from < 0 || to < from) {
        fputs("velmaris-helpgen: the README has no <!-- help --> ... <!-- /help --> section\n",
              stderr);
        return 1;
    }
    const qsizetype start = from + qsizetype(strlen("<!-- help -->"));
    QTextDocument doc;
    doc.setMarkdown(QStringLiteral("# Velmaris\n\n") + readme.mid(start, to - start));
    doc.setMetaInformation(QTextDocument::DocumentTitle, QStringLiteral("Velmaris"));
    // The reader's own font, not the one this build step happened to have.
    QString html = doc.toHtml();
    html.replace(QRegularExpression(QStringLiteral("<body style=\"[^\"]*\">")),
                 QStringLiteral("<body>"));
    QFile out(QString::fromLocal8Bit(argv[2]));
    if (!out.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        out.write(html.toUtf8()) < 0 || !out.flush()) {
        fprintf(stderr, "velmaris-helpgen: cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
