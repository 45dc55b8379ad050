// Draws the program's SVG icon as PNG images of the given sizes, at build
// time: the window and the desktop then show it without Qt's SVG plugin.
//   xb_render_icon ICON.svg OUT_DIR SIZE...   writes OUT_DIR/xlsbridge-SIZE.png
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s ICON.svg OUT_DIR SIZE...\n", argv[0]);
    return 2;
  }
  QSvgRenderer svg(QString::fromLocal8Bit(argv[1]));
  if (!svg.isValid()) {
    std::fprintf(stderr, "%s: not a valid SVG image\n", argv[1]);
    return 1;
  }
  const QDir out(QString::fromLocal8Bit(argv[2]));
  if (!out.mkpath(QStringLiteral("."))) {
    std::fprintf(stderr, "%s: cannot create the folder\n", argv[2]);
    return 1;
  }
  for (int i = 3; i < argc; ++i) {
    const int size = std::atoi(argv[i]);
    if (size <= 0) {
      std::fprintf(stderr, "%s: not a size\n", argv[i]);
      return 2;
    }
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    svg.render(&painter);
    painter.end();
    const QString name = out.filePath(QStringLiteral("xlsbridge-%1.png").arg(size));
    if (!image.save(name, "PNG")) {
      std::fprintf(stderr, "%s: cannot write it\n", qPrintable(name));
      return 1;
    }
  }
  return 0;
}
