#include <QApplication>
#include <QDir>
#include <QIcon>
#include <QImage>
#include <QImageReader>
#include <QMovie>
#include <QPixmap>
#include <QSet>
#include <QtTest>

namespace {

struct Still {
    const char *name;
    QSize size;
};

// Every still image the program refers to, at its 1x size.
const Still stills[] = {
    {"quilloralite.png", {128, 128}},
    {"qvlite_logo_white.png", {300, 90}},
    {"opinione.png", {160, 40}},
    {"upload.png", {32, 32}},
    {"folder.png", {32, 32}},
    {"impostazioni.png", {32, 32}},
    {"log_out.png", {32, 32}},
    {"help.png", {32, 32}},
    {"ricerca.png", {16, 16}},
    {"cloudandpc.png", {16, 16}},
    {"cloudonly.png", {16, 16}},
    {"check.png", {16, 16}},
    {"info.png", {24, 24}},
    {"cancel.png", {16, 16}},
    {"calendar.gif", {16, 16}},
    {"conservato.png", {128, 128}},
    {"nonconservato.png", {128, 128}},
};

QString resource(const QString &name) {
    return QStringLiteral(":/images/") + name;
}

QString atTwo(const QString &name) {
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return name.left(dot) + QStringLiteral("@2x") + name.mid(dot);
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private slots:
    void stillImage_data();
    void stillImage();
    void highResolutionVariant_data();
    void highResolutionVariant();
    void calendarIsGif();
    void loadingIsLoopingAnimation();
    void noStrayImages();
};

void TestResources::stillImage_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QSize>("size");
    for (const Still &still : stills)
        QTest::newRow(still.name) << QString::fromLatin1(still.name) << still.size;
}

void TestResources::stillImage() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QPixmap pixmap(resource(name));
    QVERIFY2(!pixmap.isNull(), qPrintable(resource(name)));
    QCOMPARE(pixmap.size(), size);
    // Drawn on a transparent ground, so they sit on any widget background.
    const QImage image = pixmap.toImage();
    QVERIFY(image.hasAlphaChannel());
    QCOMPARE(qAlpha(image.pixel(0, 0)), 0);
    QCOMPARE(qAlpha(image.pixel(size.width() - 1, size.height() - 1)), 0);
}

void TestResources::highResolutionVariant_data() {
    stillImage_data();
}

void TestResources::highResolutionVariant() {
    QFETCH(QString, name);
    QFETCH(QSize, size);
    const QPixmap pixmap(resource(atTwo(name)));
    QVERIFY2(!pixmap.isNull(), qPrintable(resource(atTwo(name))));
    QCOMPARE(pixmap.size(), size * 2);
    // The naming must be the one QIcon follows on its own for high-density screens.
    const QList<QSize> sizes = QIcon(resource(name)).availableSizes();
    QVERIFY2(sizes.contains(size) && sizes.contains(size * 2), qPrintable(name));
}

void TestResources::calendarIsGif() {
    for (const QString &name : {QStringLiteral("calendar.gif"), atTwo("calendar.gif")}) {
        QImageReader reader(resource(name));
        reader.setDecideFormatFromContent(true);
        QCOMPARE(reader.format(), QByteArray("gif"));
        QMovie movie(resource(name));
        QVERIFY(movie.isValid());
        QVERIFY(movie.jumpToFrame(0));
        QVERIFY(!movie.currentImage().isNull());
    }
}

void TestResources::loadingIsLoopingAnimation() {
    QImageReader reader(resource("loading.gif"));
    reader.setDecideFormatFromContent(true);
    QCOMPARE(reader.format(), QByteArray("gif"));

    QMovie movie(resource("loading.gif"));
    QVERIFY(movie.isValid());
    QVERIFY(movie.frameCount() > 1);
    QCOMPARE(movie.loopCount(), -1);

    QList<QImage> frames;
    for (int i = 0; i < movie.frameCount(); ++i) {
        QVERIFY(movie.jumpToFrame(i));
        QCOMPARE(movie.currentImage().size(), QSize(32, 32));
        QVERIFY(movie.nextFrameDelay() > 0);
        frames.append(movie.currentImage().convertToFormat(QImage::Format_ARGB32));
    }
    // A spinner whose frames repeat before the loop closes would stutter.
    for (int i = 0; i < frames.size(); ++i)
        for (int j = i + 1; j < frames.size(); ++j)
            QVERIFY2(frames.at(i) != frames.at(j),
                     qPrintable(QStringLiteral("frames %1 and %2 equal").arg(i).arg(j)));
}

void TestResources::noStrayImages() {
    QSet<QString> known{QStringLiteral("loading.gif")};
    for (const Still &still : stills) {
        known.insert(QString::fromLatin1(still.name));
        known.insert(atTwo(QString::fromLatin1(still.name)));
    }
    const QStringList present = QDir(QStringLiteral(":/images")).entryList(QDir::Files);
    QCOMPARE(QSet<QString>(present.begin(), present.end()), known);
}

// A high-density screen, so QIcon looks for the @2x files as it would there.
int main(int argc, char *argv[]) {
    qputenv("QT_SCALE_FACTOR", "2");
    QApplication app(argc, argv);
    TestResources test;
    return QTest::qExec(&test, argc, argv);
}
#include "tst_resources.moc"
