#include "app/pictures.h"

#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

// The pictures live in this static library; nothing would pull them into
// the program unless they are registered by hand.
static void RegisterPictures() { Q_INIT_RESOURCE(pictures); }

namespace kalmuro {

namespace {

QString PicturePath(const QString& name) {
    static const bool registered = (RegisterPictures(), true);
    (void)registered;
    return QStringLiteral(":/pictures/") + name + QStringLiteral(".svg");
}

// Draws the SVG on demand, at the size the icon is wanted, so that a menu,
// a button and a high-density screen all get sharp lines. `smallName`, when
// set, is drawn instead up to 22 pixels.
class TSvgIconEngine : public QIconEngine {
public:
    TSvgIconEngine(QString name, QString smallName)
        : FName(std::move(name)), FSmallName(std::move(smallName)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State) override {
        const QString& name = !FSmallName.isEmpty() && rect.width() <= 22 ? FSmallName : FName;
        QSvgRenderer renderer(PicturePath(name));
        if (mode == QIcon::Disabled) painter->setOpacity(0.35);
        renderer.render(painter, QRectF(rect));
        painter->setOpacity(1.0);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
        QPixmap pixmap(size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        paint(&painter, QRect(QPoint(0, 0), size), mode, state);
        return pixmap;
    }
    QIconEngine* clone() const override { return new TSvgIconEngine(FName, FSmallName); }

private:
    QString FName, FSmallName;
};

}  // namespace

QPixmap PicturePixmap(const QString& name, const QSize& size, qreal devicePixelRatio) {
    QPixmap pixmap(size * devicePixelRatio);
    pixmap.fill(Qt::transparent);
    QSvgRenderer renderer(PicturePath(name));
    QPainter painter(&pixmap);
    renderer.render(&painter, QRectF(pixmap.rect()));
    painter.end();
    pixmap.setDevicePixelRatio(devicePixelRatio);
    return pixmap;
}

QIcon PictureIcon(const QString& name) { return QIcon(new TSvgIconEngine(name, QString())); }

QIcon ProgramIcon() {
    // Window managers and tray hosts ask for fixed pixmaps; give them the
    // usual sizes, the small ones from the simplified drawing. Drawn once:
    // the application, the window and the tray all show it. Never destroyed,
    // so that no pixmap outlives the toolkit at exit.
    static const QIcon* const icon = [] {
        auto* drawn = new QIcon;
        for (const int size : {16, 22, 24, 32, 48, 64, 128, 256})
            drawn->addPixmap(PicturePixmap(size <= 22 ? QStringLiteral("kalmuro-small")
                                                      : QStringLiteral("kalmuro"),
                                           QSize(size, size)));
        return drawn;
    }();
    return *icon;
}

}  // namespace kalmuro
