#include "settings/config_logo.h"

#include <QFont>
#include <QFontMetricsF>
#include <QPainter>
#include <QPainterPath>

namespace qelta {
namespace {

const QColor kBlue(24, 62, 128);
const QColor kYellow(255, 204, 0);
const QColor kGrey(96, 104, 120);

// A bolt in a square of side 1, from the top right down to a point at the bottom left.
QPainterPath UnitBolt() {
  QPainterPath bolt;
  bolt.moveTo(0.64, 0.06);
  bolt.lineTo(0.22, 0.56);
  bolt.lineTo(0.47, 0.56);
  bolt.lineTo(0.32, 0.95);
  bolt.lineTo(0.80, 0.40);
  bolt.lineTo(0.54, 0.40);
  bolt.closeSubpath();
  return bolt;
}

// The largest pixel size at which `text` fits into `box` in the given family and weight.
QFont FittingFont(const QString& text, const QSizeF& box, int weight, qreal letter_spacing) {
  QFont font(QStringLiteral("Sans Serif"));
  font.setWeight(static_cast<QFont::Weight>(weight));
  font.setLetterSpacing(QFont::PercentageSpacing, letter_spacing);
  for (int pixels = static_cast<int>(box.height()); pixels > 4; --pixels) {
    font.setPixelSize(pixels);
    const QFontMetricsF metrics(font);
    if (metrics.horizontalAdvance(text) <= box.width() && metrics.ascent() <= box.height()) break;
  }
  return font;
}

}  // namespace

QPixmap DrawConfigLogo(int width, int height, qreal pixel_ratio) {
  QPixmap pixmap(QSize(width, height) * pixel_ratio);
  pixmap.setDevicePixelRatio(pixel_ratio);
  pixmap.fill(Qt::white);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setRenderHint(QPainter::TextAntialiasing);

  // The emblem: a rounded square as high as the picture.
  const qreal side = height;
  const QRectF emblem(0.5, 0.5, side - 1, side - 1);
  painter.setPen(Qt::NoPen);
  painter.setBrush(kBlue);
  painter.drawRoundedRect(emblem, side * 0.18, side * 0.18);
  painter.save();
  painter.translate(emblem.topLeft());
  painter.scale(emblem.width(), emblem.height());
  painter.setBrush(kYellow);
  painter.drawPath(UnitBolt());
  painter.restore();

  // The name on the upper two thirds, the word below it, both left-aligned beside the emblem.
  const qreal left = side + height * 0.2;
  const QSizeF name_box(width - left, height * 0.62);
  const QString name = QStringLiteral("QELTA");
  painter.setFont(FittingFont(name, name_box, QFont::Black, 104));
  painter.setPen(kBlue);
  const QFontMetricsF name_metrics(painter.font());
  painter.drawText(QPointF(left, name_metrics.ascent() * 0.98), name);

  const QString word = QStringLiteral("MONITOR");
  const qreal name_width = name_metrics.horizontalAdvance(name);
  painter.setFont(FittingFont(word, QSizeF(name_width, height * 0.26), QFont::DemiBold, 130));
  painter.setPen(kGrey);
  painter.drawText(QPointF(left + 1, height - 2), word);
  return pixmap;
}

}  // namespace qelta
