// Renders the program's real windows over a small sample list and writes PNG pictures of the main screen
// after a search, of a prompt, and of the browse screen: screenshots OUTPUT_FOLDER
#include <QApplication>
#include <QDir>
#include <QImage>
#include <QMainWindow>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>

#include "Application.h"
#include "DataFile.h"
#include "disk/DataFilePath.h"
#include "Program.h"

namespace {

const tesselby::Record kSample[] = {
    {"Anna", "Smithers", "555-0101", "anna@example.org"},
    {"John", "Smith", "555-0100", "john.smith@example.org"},
    {"Zoë", "O'Brien, Jr.", "+44 20 7946 0958", "zoe@example.org"},
    {"Tomás", "Goldsmith", "555-0142", "tomas@example.org"},
};

// The offscreen platform draws no window frame, so each picture gets a plain title bar of its own.
QImage withTitleBar(QWidget* window)
{
    QPixmap content = window->grab();
    const qreal scale = content.devicePixelRatio();
    content.setDevicePixelRatio(1); // drawn pixel for pixel into the picture
    const int barHeight = qRound(24 * scale);
    QImage image(content.width(), content.height() + barHeight, QImage::Format_RGB32);
    image.fill(QColor(60, 60, 64));
    QPainter painter(&image);
    QFont font = window->font();
    font.setPixelSize(qRound(12 * scale));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, image.width(), barHeight), Qt::AlignCenter, window->windowTitle());
    painter.drawPixmap(0, barHeight, content);
    return image;
}

bool save(const QImage& image, const QString& path)
{
    const bool saved = image.save(path);
    std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(path));
    return saved;
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    tesselby::configureApplication(application);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
        return 2;
    }
    const QString out = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(out);

    QTemporaryDir home;
    qputenv("XDG_DATA_HOME", home.path().toLocal8Bit());
    for (const tesselby::Record& person : kSample) {
        if (!tesselby::appendRecord(tesselby::dataFilePath(tesselby::kDataFileWritePath), person).ok())
            return 1;
    }

    tesselby::Program program;
    program.start();
    QMainWindow* main = program.mainScreen();
    main->findChild<QRadioButton*>(QStringLiteral("Option2"))->setChecked(true);
    main->findChild<QPlainTextEdit*>(QStringLiteral("Text1"))->setPlainText(QStringLiteral("Smith"));
    main->findChild<QPushButton*>(QStringLiteral("Command1"))->click();
    bool ok = save(withTitleBar(main), out + QStringLiteral("/main-screen.png"));

    // The first prompt of "ADD A NEW FILE", pictured while open, then cancelled with the rest.
    bool pictured = false;
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, [&] {
        QWidget* prompt = QApplication::activeModalWidget();
        if (prompt == nullptr || !prompt->isVisible())
            return;
        if (!pictured)
            ok = save(withTitleBar(prompt), out + QStringLiteral("/prompt.png")) && ok;
        pictured = true;
        QMetaObject::invokeMethod(prompt, "reject");
    });
    closer.start(50);
    main->findChild<QPushButton*>(QStringLiteral("Command2"))->click();
    closer.stop();

    main->findChild<QAction*>(QStringLiteral("mnuODB"))->trigger();
    QMainWindow* browse = program.browseScreen();
    ok = browse != nullptr && save(withTitleBar(browse), out + QStringLiteral("/browse-screen.png")) && ok;
    return ok && pictured ? 0 : 1;
}
