#include "Alias_F.h"

#include "UpdateText.h"

#include "core/Aliases.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include <algorithm>

namespace Text = UpdateText;

std::function<int(TAlias_F&)>& TAlias_F::Runner()
{
    static std::function<int(TAlias_F&)> runner;
    return runner;
}

TAlias_F::TAlias_F(QWidget* parent) : QDialog(parent)
{
    setObjectName(QStringLiteral("Alias_F"));
    setWindowTitle(Text::AliasCaption);
    Label1 = new QLabel(Text::AliasPrompt, this);
    AL_CB = new QComboBox(this);
    AL_CB->setObjectName(QStringLiteral("AL_CB"));
    AL_CB->setEditable(false);
    AL_CB->setMinimumContentsLength(30);
    Label1->setBuddy(AL_CB);
    OK_SB = new QPushButton(Text::AliasOK, this);
    OK_SB->setObjectName(QStringLiteral("OK_SB"));
    OK_SB->setDefault(true);
    Cancel_SB = new QPushButton(Text::AliasCancel, this);
    Cancel_SB->setObjectName(QStringLiteral("Cancel_SB"));
    Cancel_SB->setAutoDefault(false);
    connect(OK_SB, &QPushButton::clicked, this, &TAlias_F::OkClick);
    connect(Cancel_SB, &QPushButton::clicked, this, &QDialog::reject);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(OK_SB);
    buttons->addWidget(Cancel_SB);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(Label1);
    layout->addWidget(AL_CB);
    layout->addLayout(buttons);
}

void TAlias_F::OkClick()
{
    if (AL_CB->currentIndex() >= 0)
        accept();
    else
        reject();
}

int TAlias_F::ShowModal(QString& chosen)
{
    QStringList names = AliasNames();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
    AL_CB->clear();
    AL_CB->addItems(names);
    AL_CB->setCurrentIndex(-1);
    AL_CB->setFocus();
    const int result = Runner() ? Runner()(*this) : exec();
    chosen = result == QDialog::Accepted ? AL_CB->currentText() : QString();
    AL_CB->clear();
    return chosen.isEmpty() ? int(QDialog::Rejected) : result;
}
