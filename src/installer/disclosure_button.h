#pragma once

#include <QToolButton>

namespace installer {

// The control that shows and hides the advanced section: an arrow with a
// title that Return presses as well as Space, and that assistive tools see
// as a button that expands something rather than as a check box.
class DisclosureButton : public QToolButton {
    Q_OBJECT
public:
    explicit DisclosureButton(const QString& title, QWidget* parent = nullptr);

protected:
    void keyPressEvent(QKeyEvent* event) override;

private:
    void showState(bool expanded);
};

} // namespace installer
