#pragma once

#include <QMainWindow>
#include <QString>
#include <array>

#include "records/MatchList.h"
#include "records/Record.h"
#include "records/RecordSearch.h"

class QAction;
class QGroupBox;
class QLabel;
class QMenu;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;
class QScrollBar;

namespace tesselby {

// Shown in the labels where there is no value: at start-up, and after a search without a match.
inline const QString kNoValue = QStringLiteral("???");

// The main screen: searches one field of the address list, pages through the matches and adds people.
class Form1 : public QMainWindow {
    Q_OBJECT

public:
    explicit Form1(QWidget* parent = nullptr);

signals:
    // "Open Data Browser" was chosen; whoever owns the screens switches to the browse screen.
    void openDataBrowserRequested();

private:
    void createControls();
    void createMenu();
    void setTabOrderAndStacking();

    void Command1_Click();
    void VScroll1_Change();
    void Command2_Click();
    void mnuODB_Click();
    void mnuAbout_Click();

    Field searchField() const;
    void showMatch(int number);
    // A label's text: the field's caption, then its value.
    static QString labelText(Field field, const QString& value);

    QPlainTextEdit* Text1 = nullptr;
    QGroupBox* Frame1 = nullptr;
    QRadioButton* Option1 = nullptr;
    QRadioButton* Option2 = nullptr;
    QRadioButton* Option3 = nullptr;
    QRadioButton* Option4 = nullptr;
    QPushButton* Command1 = nullptr;
    QPushButton* Command2 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QScrollBar* VScroll1 = nullptr;
    QMenu* mnuFile = nullptr;
    QAction* mnuODB = nullptr;
    QAction* mnuAbout = nullptr;
    QAction* mnuExit = nullptr;

    // The latest search's matches: match m (from 1) is matchGrid.record(m - 1). After a search
    // without a match it holds one match of four "???".
    MatchList matchGrid;
    // Kept from search to search, so its buffer is not asked for again each time.
    RecordSearch m_search;
    // The answers of the entry being added, first name to e-mail address.
    PerField<QString> newEntry;
};

} // namespace tesselby
