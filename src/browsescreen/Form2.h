#pragma once

#include <QMainWindow>
#include <QString>
#include <array>
#include <cstddef>
#include <optional>

#include "disk/FileSystem.h"
#include "records/RecordGrid.h"

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

    enum class ListLoad { Loaded, Failed, Empty };

    // Creates the four field boxes and loads every record, telling the person when there is nothing to
    // show or the file cannot be read. Returns whether the screen can be shown.
    bool Form_Load();
    // Before the screen is shown again: reads the list again when the file may have changed since it
    // was last read, keeping the person shown (found as "EDIT" finds them, else the same number) and
    // whatever was typed into the boxes and not saved. Loaded when the screen can be shown; Failed
    // when the list could not be read (the screen is as it was); Empty when it has nobody left.
    ListLoad readAgainIfChanged();

signals:
    // The data file was read (for the tests: a screen shown again reads only a changed file).
    void listRead();
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

    // Reads the list into the grid, telling the person when it cannot be read or is empty.
    ListLoad loadList();
    // The same into the grid given, noting the file's stamp for readAgainIfChanged.
    ListLoad readList(RecordGrid& into);
    void reloadList(std::size_t shown);
    void showSavedList(std::size_t at);
    void showRecord(std::size_t number);
    // The box of DataValue that shows field: elements 1..4 in the file's order.
    QLineEdit* valueBox(Field field) const { return DataValue[fieldIndex(field) + 1]; }

    QPushButton* Command1 = nullptr;
    QScrollBar* HScroll1 = nullptr;
    // Element 0 is the hidden template; elements 1..4 show the fields in the file's order once loaded.
    std::array<QLineEdit*, 5> DataValue{};
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QAction* mnuRMS = nullptr;

    // What showRecord put in each box, so that "EDIT" can tell which boxes the person changed.
    PerField<QString> shownTexts;
    // For a box whose typing was kept while the list was read again: the value the person typed over, when
    // another program has changed it since, so that "EDIT" asks which to keep as it does for any field
    // both changed. Paging, which drops the typing, drops these too.
    PerField<std::optional<QString>> typedOver;

    RecordGrid recordGrid;
    // The data file's stamp, taken just before the grid was read from it; none when the grid holds
    // what a save wrote, or the file could not be stamped.
    std::optional<FileStamp> readStamp;
};

} // namespace tesselby
