#pragma once

#include <QDialog>
#include <QStringList>

#include <functional>

class QLabel;
class QPushButton;
class QTreeWidget;
class QTreeWidgetItem;

// The configured databases of one application, to tick the ones to work on or to pick one.
class TfrmSelectDBPaths : public QDialog {
    Q_OBJECT
public:
    // The columns of lvAppl.
    enum Column { colDBN, colCaption, colServIP, colBaseName, colSysBaseName, ColumnCount };

    explicit TfrmSelectDBPaths(QWidget* parent = nullptr);

    // Column widths to their contents and a window that shows them, within the screen.
    void FitToContents();

    // Single choice: one row is chosen, the highlighted one, and only its box is ticked.
    // Ticking a row chooses it; the chosen row's tick cannot be taken away, only another chosen.
    void setSingleChoice(bool on);
    // The chosen row in single choice (null when the list is empty).
    QTreeWidgetItem* chosenRow() const;

    // How the window is shown: exec() unless a test drives it.
    static std::function<int(TfrmSelectDBPaths&)>& Runner();
    int run() { return Runner() ? Runner()(*this) : exec(); }

    QLabel* lbPrompt;
    QTreeWidget* lvAppl;
    QPushButton* sbOK;
    QPushButton* sbCancel;

private:
    void Choose(QTreeWidgetItem* row);

    bool m_single = false;
    bool m_choosing = false;
};

// Fills list with the entries of the section in the file at iniPath, each row ticked; drops rows
// without a DBN, a Caption, a BaseName or an access database. Shows a file that cannot be read
// and returns false. Returns whether any row is there.
bool LoadLvFromIni(const QString& iniPath, QTreeWidget* list, const QString& section);

// Asks for databases of the section in ZorCfg.ini and puts their server paths (or DBNs) into
// values. Only the databases whose access database contains filter are offered; when one is left,
// or the file is missing, nobody is asked. Returns 1 when values holds anything, else 2;
// cancelled, when given, tells whether the administrator closed the question without a choice.
int SelectDBPaths(const QString& caption, const QString& prompt, const QString& section, bool returnDBN, bool single,
                  const QString& filter, QStringList& values, bool* cancelled = nullptr);
