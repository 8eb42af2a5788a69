#pragma once

#include <QKeySequence>
#include <QPointer>
#include <QWidget>

#include <functional>

class QShortcut;

// The fold button's hints; the key that presses it is added in brackets.
namespace GroupBoxText {
inline const QString Fold = QStringLiteral("Свиване");
inline const QString Unfold = QStringLiteral("Разгъване");
} // namespace GroupBoxText

// A group box with two optional buttons in its frame: a check box that enables or disables
// everything inside, and a minimise button that folds the box to its caption line. It also
// gives the choice among its radio buttons as one index.
//
// "Inside the box" means the box's direct child widgets, whatever layout places them. A folded
// box hides them, so that neither Tab nor a key reaches a control nobody can see. With the
// minimise button shown, the box itself is a Tab stop (as a checkable group box is): Space or
// the fold key (FoldKey, F9 by default, for the box holding the focus or one of its controls)
// folds and unfolds it.
class TBetterGroupBox : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString title READ title WRITE setTitle)
    Q_PROPERTY(bool Checked READ isChecked WRITE setChecked NOTIFY OnCheck)
    Q_PROPERTY(bool CaptionCenter READ captionCenter WRITE setCaptionCenter)
    Q_PROPERTY(bool ShowEnableBtn READ showEnableBtn WRITE setShowEnableBtn)
    Q_PROPERTY(bool ShowMinimizeBtn READ showMinimizeBtn WRITE setShowMinimizeBtn)
    Q_PROPERTY(bool look3D READ look3D WRITE setLook3D)
    Q_PROPERTY(int rbItemIndex READ rbItemIndex WRITE setRbItemIndex)
    Q_PROPERTY(bool folded READ isFolded WRITE setFolded NOTIFY OnMinimize)
    Q_PROPERTY(QKeySequence FoldKey READ foldKey WRITE setFoldKey)
public:
    // The index value of a control inside the box.
    using IndexFunc = std::function<int(QWidget* control)>;
    static constexpr int FoldedHeight = 14;
    // A folded box is 14 pixels high, or as high as its caption where the font is larger, so
    // that the caption is never cut.
    int foldedHeight() const;

    explicit TBetterGroupBox(QWidget* parent = nullptr);
    explicit TBetterGroupBox(const QString& title, QWidget* parent = nullptr);

    QString title() const { return m_title; }
    void setTitle(const QString& title);

    bool isChecked() const { return m_checked; }
    // Always reapplies the enabled state to the children and raises OnCheck, changed or not.
    void setChecked(bool checked);

    bool captionCenter() const { return m_captionCenter; }
    void setCaptionCenter(bool on);
    bool showEnableBtn() const { return m_showEnableBtn; }
    void setShowEnableBtn(bool on);
    bool showMinimizeBtn() const { return m_showMinimizeBtn; }
    void setShowMinimizeBtn(bool on);
    // Etched frame (highlight and shadow) or a single line in the frame colour.
    bool look3D() const { return m_look3D; }
    void setLook3D(bool on);

    // The index value of the first selected radio button, or -1.
    int rbItemIndex() const;
    // Selects the first radio button whose index value is index; none matching changes nothing.
    void setRbItemIndex(int index);
    const IndexFunc& rbGetIndexFunc() const { return m_indexFunc; }
    // An empty function restores the default.
    void setRbGetIndexFunc(IndexFunc func);
    // The default index value: a radio button's "tag" property, -1 for any other control.
    static int defaultIndexOf(QWidget* control);

    bool isFolded() const { return m_folded; }
    void setFolded(bool folded);
    int heightBeforeFold() const { return m_heightBeforeFold; }
    QKeySequence foldKey() const { return m_foldKey; }
    void setFoldKey(const QKeySequence& key);
    // The hint of the minimise button: what a press does and the key that does it.
    QString minimizeBtnHint() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

    static QRect enableBtnRect() { return QRect(2, 2, 12, 12); }
    QRect minimizeBtnRect() const { return QRect(width() - 16, 2, 12, 12); }

signals:
    void OnCheck(bool checked);
    void OnMinimize(bool folded);

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool event(QEvent* event) override;

private:
    void updateMargins();
    void updateFocusPolicy();

    QString m_title;
    bool m_checked = true;
    bool m_captionCenter = false;
    bool m_showEnableBtn = true;
    bool m_showMinimizeBtn = true;
    bool m_look3D = true;
    IndexFunc m_indexFunc;
    bool m_folded = false;
    int m_heightBeforeFold = 0;
    int m_minHeightBeforeFold = 0;
    int m_maxHeightBeforeFold = QWIDGETSIZE_MAX;
    // Widths the box asked for before folding: a folded box keeps its place in a row.
    QSize m_hintBeforeFold;
    QSize m_minHintBeforeFold;
    QList<QPointer<QWidget>> m_hiddenByFold;
    QKeySequence m_foldKey{Qt::Key_F9};
    QShortcut* m_foldShortcut;
};
