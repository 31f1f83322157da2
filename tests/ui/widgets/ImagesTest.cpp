// The icon artwork: every picture of both lists and the application icon
// loads from the compiled-in resources and renders sharp at 16 pixels and
// at device pixel ratio 2.

#include "ui/widgets/Images.h"

#include <QImage>
#include <QPainter>
#include <gtest/gtest.h>

using namespace tarvok;

namespace {

// Share of pixels that are neither transparent nor opaque: high when a
// picture is drawn off the pixel grid or scaled from another size.
double partialShare(const QPixmap& pm)
{
    const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
    int partial = 0;
    for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x) {
            const int a = qAlpha(img.pixel(x, y));
            partial += a > 0 && a < 255;
        }
    return double(partial) / (img.width() * img.height());
}

} // namespace

TEST(Images, EveryPictureLoadsAtBothRatiosAndOutsideIndicesHaveNone)
{
    struct List {
        QString (*file)(int);
        QIcon (*icon)(int);
        int count;
    };
    for (const List& l : {List{listImageFile, listIcon, ListImageCount}, List{buttonImageFile, buttonIcon, ButtonImageCount}}) {
        for (int i = 0; i < l.count; ++i) {
            for (qreal ratio : {1.0, 2.0}) {
                const QPixmap pm = renderImage(l.file(i), 16, ratio);
                ASSERT_FALSE(pm.isNull()) << l.file(i).toStdString();
                EXPECT_EQ(pm.deviceIndependentSize(), QSizeF(16, 16));
                EXPECT_EQ(pm.size(), QSize(16, 16) * ratio);
                // A picture on a transparent ground: neither blank nor a filled square.
                const QImage img = pm.toImage().convertToFormat(QImage::Format_ARGB32);
                int opaque = 0, clear = 0;
                for (int y = 0; y < img.height(); ++y)
                    for (int x = 0; x < img.width(); ++x) {
                        opaque += qAlpha(img.pixel(x, y)) == 255;
                        clear += qAlpha(img.pixel(x, y)) == 0;
                    }
                EXPECT_GT(opaque, 0) << l.file(i).toStdString();
                EXPECT_GT(clear, 0) << l.file(i).toStdString();
            }
            EXPECT_FALSE(l.icon(i).isNull());
        }
        EXPECT_TRUE(l.icon(-1).isNull());
        EXPECT_TRUE(l.icon(l.count).isNull());
        EXPECT_TRUE(l.file(l.count).isEmpty());
    }
    EXPECT_EQ(ImageList1().size(), ListImageCount);
    EXPECT_EQ(ButtonImage().size(), ButtonImageCount);
    EXPECT_TRUE(renderImage(QStringLiteral(":/icons/none.svg"), 16).isNull());

    // The pictures the two lists share on purpose, and no other repeats.
    EXPECT_EQ(buttonImageFile(biVersion), listImageFile(imgTray));
    EXPECT_EQ(buttonImageFile(biTrace), listImageFile(imgNetwork));
    QList<QImage> seen;
    for (int i = 0; i < ListImageCount; ++i) {
        const QImage img = ImageList1().at(i).toImage();
        EXPECT_FALSE(seen.contains(img)) << "list image " << i;
        seen << img;
    }
}

TEST(Images, GridPicturesStaySharpAtSixteenAndTwiceThat)
{
    // Pictures made of straight lines: at most a few edge pixels blend.
    for (const QString& f : {listImageFile(imgComputer), listImageFile(imgNetwork), buttonImageFile(biSave),
                             buttonImageFile(biClear), buttonImageFile(biExit)})
        for (qreal ratio : {1.0, 2.0})
            EXPECT_LT(partialShare(renderImage(f, 16, ratio)), 0.12) << f.toStdString() << " at " << ratio;
}

TEST(Images, ApplicationIconOffersEveryDesktopSize)
{
    const QIcon icon = appIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (int px : {16, 22, 24, 32, 48, 64, 128, 256})
        EXPECT_TRUE(sizes.contains(QSize(px, px))) << px;
    // Small sizes use the 16-pixel tulip, not a shrunken large picture.
    EXPECT_EQ(icon.pixmap(QSize(16, 16), 1.0).toImage().convertToFormat(QImage::Format_ARGB32),
              renderImage(listImageFile(imgTray), 16).toImage().convertToFormat(QImage::Format_ARGB32));
    EXPECT_FALSE(renderImage(appIconFile(), 256).isNull());
}

// A deferred icon draws nothing until asked, then exactly what the icon it
// builds would: pictures and sizes at every size, mode and ratio, painted
// icons alike.
TEST(Images, DeferredIconsAreTheIconTheyBuildOnceAsked)
{
    auto eager = [] {
        QIcon icon;
        for (int px : {16, 24, 48})
            icon.addPixmap(renderImage(buttonImageFile(biPing), px));
        return icon;
    };
    const QIcon built = eager();
    int builds = 0;
    const QIcon deferred = deferredIcon([&] {
        ++builds;
        return eager();
    });
    EXPECT_FALSE(deferred.isNull());
    EXPECT_EQ(builds, 0);

    auto asImage = [](const QPixmap& pm) { return pm.toImage().convertToFormat(QImage::Format_ARGB32); };
    auto painted = [](const QIcon& icon, QSize box, qreal ratio, QIcon::Mode mode) {
        QImage img(box * ratio, QImage::Format_ARGB32_Premultiplied);
        img.setDevicePixelRatio(ratio);
        img.fill(Qt::white);
        QPainter p(&img);
        icon.paint(&p, QRect(QPoint(2, 1), box - QSize(3, 2)), Qt::AlignCenter, mode);
        return img;
    };
    EXPECT_EQ(deferred.availableSizes(), built.availableSizes());
    for (QIcon::Mode mode : {QIcon::Normal, QIcon::Disabled, QIcon::Active, QIcon::Selected}) {
        for (int px : {12, 16, 20, 24, 40, 64}) {
            const QSize size(px, px);
            EXPECT_EQ(deferred.actualSize(size, mode), built.actualSize(size, mode)) << px;
            for (qreal ratio : {1.0, 2.0}) {
                const QPixmap d = deferred.pixmap(size, ratio, mode);
                const QPixmap b = built.pixmap(size, ratio, mode);
                EXPECT_EQ(d.size(), b.size()) << px << " at " << ratio;
                EXPECT_EQ(d.devicePixelRatio(), b.devicePixelRatio()) << px << " at " << ratio;
                EXPECT_EQ(asImage(d), asImage(b)) << px << " at " << ratio << " mode " << mode;
                EXPECT_EQ(painted(deferred, size, ratio, mode), painted(built, size, ratio, mode))
                    << px << " at " << ratio << " mode " << mode;
            }
        }
    }
    EXPECT_EQ(builds, 1);
}
