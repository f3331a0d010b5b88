// A colour picker: a button showing the chosen colour that drops down a
// palette of standard colours, the last entry "Altri colori..." opening the
// colour dialog. Its value is a colour as the settings keep it, 0x00BBGGRR.
#pragma once

#include <QToolButton>
#include <cstdint>
#include <vector>

class QMenu;

namespace kalmuro {

// The colour the settings keep for a QColor (red in the low byte).
int32_t ColorToSettings(const QColor& color);

class TColorButton : public QToolButton {
    Q_OBJECT
public:
    // The palette, 0x00BBGGRR, in the order it is shown.
    static const std::vector<int32_t>& StandardColors();

    explicit TColorButton(QWidget* parent = nullptr);

    int32_t Value() const { return FValue; }
    // Any value is kept exactly, also one a colour picker could not make;
    // only its low 24 bits are drawn.
    void SetValue(int32_t value);

    // The colour as a person names it: the palette's name, or its three
    // components. A screen reader gets it as the button's description.
    static QString ColorName(int32_t value);

    // The drop-down: one action per standard colour, then "Altri colori...".
    QMenu* Palette() const { return FPalette; }

Q_SIGNALS:
    void ValueChanged(int32_t value);

private:
    void ChooseOther();

    QMenu* FPalette = nullptr;
    int32_t FValue = 0;
};

}  // namespace kalmuro
