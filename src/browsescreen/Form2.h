#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstddef>

#include "RecordGrid.h"

class QAction;
class QLabel;
class QLineEdit;
class QPushButton;
class QScrollBar;

namespace tesselby {

// The browse screen: pages through every record in four boxes and saves the shown one on "EDIT".
class Form2 : public QMainWindow {
    Q_OBJECT

public:
    explicit Form2(QWidget* parent = nullptr);

    // Creates the four field boxes and loads every record, telling the person when there is nothing to
    // show or the file cannot be read. Returns whether the screen can be shown.
    bool Form_Load();

signals:
    // "Return to Main Screen" was chosen, or the window was closed.
    void returnToMainScreenRequested();
    // The list was loaded again and is empty now: nothing is left to browse.
    void listEmptied();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();

    void HScroll1_Change();
    void Command1_Click();
    void mnuRMS_Click();

    enum class ListLoad { Loaded, Failed, Empty };
    // Reads the list into the grid, telling the person when it cannot be read or is empty.
    ListLoad loadList();
    void reloadList(std::size_t shown);
    void showSavedList(std::size_t at);
    void showRecord(std::size_t number);

    QPushButton* Command1 = nullptr;
    QScrollBar* HScroll1 = nullptr;
    // Element 0 is the hidden template; elements 1..4 show fields 1..4 once loaded.
    std::array<QLineEdit*, 5> DataValue{};
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QAction* mnuRMS = nullptr;

    // What showRecord put in each box, so that "EDIT" can tell which boxes the person changed.
    std::array<QString, 5> shownTexts;

    RecordGrid recordGrid;
    std::size_t itemCount = 0;
};

} // namespace tesselby
