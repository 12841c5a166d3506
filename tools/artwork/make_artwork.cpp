// Renders the editor's artwork to PNG files at build time:
//   make_artwork OUT_DIR NAME...
// writes OUT_DIR/NAME.png for each piece named; every piece must be named, so the build's list
// and the drawings cannot drift apart.
#include "ui/artwork/artwork.h"

#include <QGuiApplication>

#include <cstdio>
#include <cstdlib>
#include <set>

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: make_artwork OUT_DIR NAME...\n");
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QString dir = QString::fromLocal8Bit(argv[1]);
    std::set<QString> wanted;
    for (int i = 2; i < argc; ++i)
        wanted.insert(QString::fromLocal8Bit(argv[i]));

    int status = 0;
    for (const zef::ui::ArtworkPiece& piece : zef::ui::artworkPieces()) {
        if (!wanted.erase(piece.name)) {
            std::fprintf(stderr, "make_artwork: %s is drawn but not listed in the build\n",
                         qPrintable(piece.name));
            status = 1;
            continue;
        }
        const QString path = dir + "/" + piece.name + ".png";
        if (!zef::ui::renderArtwork(piece).save(path, "PNG")) {
            std::fprintf(stderr, "make_artwork: cannot write %s\n", qPrintable(path));
            status = 1;
        }
    }
    for (const QString& name : wanted) {
        std::fprintf(stderr, "make_artwork: %s is listed but not drawn\n", qPrintable(name));
        status = 1;
    }
    return status;
}
