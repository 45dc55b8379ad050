#include "app/fonts.h"

#include <QFont>
#include <QFontDatabase>
#include <QStringList>

namespace xb::app {

void InstallFontSubstitutions() {
  const QStringList installed = QFontDatabase::families();
  auto available = [&](const QStringList& wanted) {
    QStringList found;
    for (const auto& name : wanted)
      if (installed.contains(name, Qt::CaseInsensitive)) found << name;
    // Keep the wish list when none is installed: fontconfig may still match.
    return found.isEmpty() ? wanted : found;
  };
  const QStringList cjk =
      available({QStringLiteral("WenQuanYi Micro Hei"), QStringLiteral("Noto Sans CJK SC"),
                 QStringLiteral("Noto Sans CJK")});
  QFont::insertSubstitutions(QStringLiteral("宋体"), cjk);
  QFont::insertSubstitutions(QStringLiteral("SimSun"), cjk);
  QStringList sans = available({QStringLiteral("Liberation Sans")});
  sans << cjk;  // Chinese captions in the sans-serif controls
  QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"), sans);
}

}  // namespace xb::app
