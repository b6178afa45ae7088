#pragma once

#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QtTest>

// Chooses a menu entry as a person does: a click on the menu bar, then, for an entry inside a
// drop-down list, a click on the entry.
inline void chooseMenuEntry(QMainWindow* window, const QString& entryName)
{
    QAction* entry = window->findChild<QAction*>(entryName);
    QVERIFY2(entry != nullptr, qPrintable(entryName));
    QMenuBar* bar = window->menuBar();
    if (bar->actions().contains(entry)) {
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(entry).center());
        return;
    }
    for (QAction* top : bar->actions()) {
        QMenu* menu = top->menu();
        if (menu == nullptr || !menu->actions().contains(entry))
            continue;
        QTest::mouseClick(bar, Qt::LeftButton, {}, bar->actionGeometry(top).center());
        QTRY_VERIFY(menu->isVisible());
        QTest::mouseClick(menu, Qt::LeftButton, {}, menu->actionGeometry(entry).center());
        return;
    }
    QFAIL("the entry is in no menu of the window");
}

template <typename Control> Control* control(QWidget* window, const char* name)
{
    return window->findChild<Control*>(QLatin1String(name));
}
