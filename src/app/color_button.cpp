#include "app/color_button.h"

#include <QColorDialog>
#include <QMenu>
#include <QPainter>
#include <QPixmap>

#include "app/message_model.h"
#include "app/qt_text.h"

namespace kalmuro {

namespace {

struct TNamedColor {
    int32_t Value;
    const char* Name;
};

// The sixteen colours every desktop palette starts with.
const TNamedColor kStandardColors[] = {
    {0x000000, "Nero"},    {0x000080, "Marrone"}, {0x008000, "Verde"},   {0x008080, "Oliva"},
    {0x800000, "Blu scuro"}, {0x800080, "Viola"}, {0x808000, "Verde acqua"},
    {0x808080, "Grigio"},  {0xC0C0C0, "Argento"}, {0x0000FF, "Rosso"},   {0x00FF00, "Lime"},
    {0x00FFFF, "Giallo"},  {0xFF0000, "Blu"},     {0xFF00FF, "Fucsia"},  {0xFFFF00, "Azzurro"},
    {0xFFFFFF, "Bianco"},
};

QIcon Swatch(int32_t value, const QSize& size) {
    QPixmap picture(size);
    picture.fill(ColorFromSettings(value));
    QPainter painter(&picture);
    painter.setPen(Qt::darkGray);
    painter.drawRect(picture.rect().adjusted(0, 0, -1, -1));
    return QIcon(picture);
}

}  // namespace

int32_t ColorToSettings(const QColor& color) {
    const QColor rgb = color.toRgb();
    return static_cast<int32_t>(static_cast<uint32_t>(rgb.red()) |
                                static_cast<uint32_t>(rgb.green()) << 8 |
                                static_cast<uint32_t>(rgb.blue()) << 16);
}

const std::vector<int32_t>& TColorButton::StandardColors() {
    static const std::vector<int32_t> values = [] {
        std::vector<int32_t> v;
        for (const TNamedColor& c : kStandardColors) v.push_back(c.Value);
        return v;
    }();
    return values;
}

TColorButton::TColorButton(QWidget* parent) : QToolButton(parent) {
    setPopupMode(QToolButton::InstantPopup);
    setToolButtonStyle(Qt::ToolButtonIconOnly);
    setIconSize(QSize(40, 14));
    FPalette = new QMenu(this);
    for (const TNamedColor& c : kStandardColors) {
        QAction* action =
            FPalette->addAction(Swatch(c.Value, QSize(24, 14)), Win1252ToQString(c.Name));
        const int32_t value = c.Value;
        connect(action, &QAction::triggered, this, [this, value] {
            SetValue(value);
            Q_EMIT ValueChanged(value);
        });
    }
    FPalette->addSeparator();
    QAction* other = FPalette->addAction(Win1252ToQString("Altri colori..."));
    other->setObjectName(QStringLiteral("AltriColori"));
    connect(other, &QAction::triggered, this, &TColorButton::ChooseOther);
    setMenu(FPalette);
    SetValue(0);
}

QString TColorButton::ColorName(int32_t value) {
    const int32_t rgb = value & 0xFFFFFF;
    for (const TNamedColor& c : kStandardColors)
        if (c.Value == rgb) return Win1252ToQString(c.Name);
    const QColor color = ColorFromSettings(value);
    return QStringLiteral("rosso %1, verde %2, blu %3")
        .arg(color.red())
        .arg(color.green())
        .arg(color.blue());
}

void TColorButton::SetValue(int32_t value) {
    FValue = value;
    setIcon(Swatch(value, iconSize()));
    setAccessibleDescription(QStringLiteral("Colore attuale: ") + ColorName(value));
}

void TColorButton::ChooseOther() {
    const QColor chosen = QColorDialog::getColor(ColorFromSettings(FValue), window());
    if (!chosen.isValid()) return;  // cancelled
    SetValue(ColorToSettings(chosen));
    Q_EMIT ValueChanged(FValue);
}

}  // namespace kalmuro
