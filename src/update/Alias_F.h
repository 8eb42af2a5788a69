#pragma once

#include <QDialog>

#include <functional>

class QComboBox;
class QLabel;
class QPushButton;

// The choice among every alias of the alias layer, for a script that names none.
class TAlias_F : public QDialog {
    Q_OBJECT
public:
    explicit TAlias_F(QWidget* parent = nullptr);

    // Fills AL_CB with the alias names, sorted, shows the window modally and empties the list
    // again; returns QDialog::Accepted with the chosen alias in chosen.
    int ShowModal(QString& chosen);

    // How the window is shown: exec() unless a test drives it.
    static std::function<int(TAlias_F&)>& Runner();

    QLabel* Label1;
    QComboBox* AL_CB;
    QPushButton* OK_SB;
    QPushButton* Cancel_SB;

private:
    void OkClick();
};
