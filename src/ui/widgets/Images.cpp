#include "ui/widgets/Images.h"

#include <QGuiApplication>
#include <QIconEngine>
#include <QPainter>
#include <QSvgRenderer>

#include <array>
#include <cmath>
#include <optional>
#include <utility>

// The resource file belongs to a static library: its initialiser has to be
// referenced to be linked in.
static void initIconResources()
{
    Q_INIT_RESOURCE(icons);
}

namespace tarvok {

namespace {

constexpr std::array<const char*, ListImageCount> ListFiles = {
    "computer.svg",      "ok.svg",        "ng.svg",           "tulip-magenta.svg",
    "tulip-cyan.svg",    "tulip-red.svg", "tulip-black.svg",  "network.svg",
    "computer-waiting.svg", "computer-tracing.svg", "red-ball.svg"};

constexpr std::array<const char*, ButtonImageCount> ButtonFiles = {
    "exit.svg",  "open.svg",  "save.svg",          "save-results.svg", "ping.svg",
    "break.svg", "clear.svg", "tulip-magenta.svg", "options.svg",      "network.svg"};

QString resource(const char* name)
{
    static const bool initialised = (initIconResources(), true);
    (void)initialised;
    return QStringLiteral(":/icons/") + QLatin1String(name);
}

qreal appRatio()
{
    return qGuiApp ? qGuiApp->devicePixelRatio() : 1.0;
}

QList<QPixmap> renderList(QString (*file)(int), int count)
{
    QList<QPixmap> list;
    const qreal ratio = appRatio();
    for (int i = 0; i < count; ++i)
        list << renderImage(file(i), 16, ratio);
    return list;
}

// An icon whose pictures are drawn when it is first asked for one. Every
// call goes to the icon that `build` returns, as its own engine would take
// it: sizes in device pixels, the ratio left to the caller.
class DeferredIconEngine final : public QIconEngine {
public:
    explicit DeferredIconEngine(std::function<QIcon()> build) : build_(std::move(build)) {}

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override
    {
        // The rect comes sized by actualSize(): the icon keeps it.
        icon().paint(painter, rect, Qt::AlignCenter, mode, state);
    }
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        return icon().pixmap(size, 1.0, mode, state);
    }
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        // The picture an engine gives for a size has its actual size.
        return pixmap(size, mode, state).size();
    }
    QList<QSize> availableSizes(QIcon::Mode mode, QIcon::State state) override
    {
        return icon().availableSizes(mode, state);
    }
    void addPixmap(const QPixmap& pixmap, QIcon::Mode mode, QIcon::State state) override
    {
        icon().addPixmap(pixmap, mode, state);
    }
    void addFile(const QString& fileName, const QSize& size, QIcon::Mode mode, QIcon::State state) override
    {
        icon().addFile(fileName, size, mode, state);
    }
    bool isNull() override { return build_ ? false : icon_.isNull(); }
    QString key() const override { return QStringLiteral("DeferredIconEngine"); }
    QIconEngine* clone() const override
    {
        auto* copy = new DeferredIconEngine(build_);
        copy->icon_ = icon_;
        return copy;
    }

private:
    QIcon& icon()
    {
        if (build_) {
            icon_ = build_();
            build_ = nullptr;
        }
        return icon_;
    }

    std::function<QIcon()> build_; // empty once built
    QIcon icon_;
};

// 16 x 16 at the ratios of common screens, then the larger sizes of the
// same picture (menus and dialogs scale from the nearest of them).
QIcon iconOf(const QString& file)
{
    if (file.isEmpty())
        return {};
    return deferredIcon([file] {
        QIcon icon;
        for (int px : {16, 24, 32, 48, 64})
            icon.addPixmap(renderImage(file, px));
        return icon;
    });
}

} // namespace

QIcon deferredIcon(std::function<QIcon()> build)
{
    return QIcon(new DeferredIconEngine(std::move(build)));
}

QPixmap renderImage(const QString& file, int size, qreal ratio)
{
    QSvgRenderer svg(file);
    if (!svg.isValid() || size <= 0 || ratio <= 0)
        return {};
    const int px = int(std::lround(size * ratio));
    QPixmap pm(px, px);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing, true);
    p.setRenderHint(QPainter::SmoothPixmapTransform, true);
    svg.render(&p, QRectF(0, 0, px, px));
    p.end();
    pm.setDevicePixelRatio(ratio);
    return pm;
}

QString listImageFile(int index)
{
    return index >= 0 && index < ListImageCount ? resource(ListFiles[size_t(index)]) : QString();
}

QString buttonImageFile(int index)
{
    return index >= 0 && index < ButtonImageCount ? resource(ButtonFiles[size_t(index)]) : QString();
}

QString appIconFile()
{
    return resource("tarvok.svg");
}

namespace {

// The pictures drawn so far. They go with the application object (a post
// routine of its destructor), not with the program's static objects, which
// are destroyed after the windowing system is gone.
struct ImageCache {
    std::optional<QList<QPixmap>> list, buttons;
    QList<QIcon> listIcons, treeIcons;
    QIcon app;
};
ImageCache* imageCache = nullptr;

ImageCache& cache()
{
    if (!imageCache) {
        imageCache = new ImageCache;
        qAddPostRoutine([] { delete std::exchange(imageCache, nullptr); });
    }
    return *imageCache;
}

} // namespace

const QList<QPixmap>& ImageList1()
{
    auto& list = cache().list;
    if (!list)
        list = renderList(listImageFile, ListImageCount);
    return *list;
}

const QList<QPixmap>& ButtonImage()
{
    auto& list = cache().buttons;
    if (!list)
        list = renderList(buttonImageFile, ButtonImageCount);
    return *list;
}

QIcon listIcon(int index)
{
    if (index < 0 || index >= ListImageCount)
        return {};
    QList<QIcon>& icons = cache().listIcons;
    if (icons.isEmpty())
        for (int i = 0; i < ListImageCount; ++i)
            icons << iconOf(listImageFile(i));
    return icons.at(index);
}

QIcon listIconSameWhenSelected(int index)
{
    if (index < 0 || index >= ListImageCount)
        return {};
    QList<QIcon>& icons = cache().treeIcons;
    if (icons.isEmpty()) {
        for (const QPixmap& pm : ImageList1()) {
            QIcon icon;
            icon.addPixmap(pm, QIcon::Normal);
            icon.addPixmap(pm, QIcon::Selected);
            icons << icon;
        }
    }
    return index < icons.size() ? icons.at(index) : QIcon();
}

QIcon buttonIcon(int index)
{
    return iconOf(buttonImageFile(index));
}

QIcon appIcon()
{
    QIcon& icon = cache().app;
    if (icon.isNull()) {
        icon = deferredIcon([] {
            QIcon i;
            // The 16-pixel picture stays sharp where the detailed one would blur.
            i.addPixmap(renderImage(listImageFile(imgTray), 16));
            for (int px : {22, 24, 32, 48, 64, 128, 256})
                i.addPixmap(renderImage(appIconFile(), px));
            return i;
        });
    }
    return icon;
}

} // namespace tarvok
