#pragma once

#include <QFileDialog>
#include <QSortFilterProxyModel>

#include <functional>

namespace installer {

// Decides, for the open panel, which entries can be picked and which pick is
// taken.
class ApplicationPanelDelegate {
public:
    virtual bool panelShouldEnableURL(const QUrl& url) const = 0;
    virtual bool panelValidateURL(const QUrl& url) const = 0;

protected:
    ~ApplicationPanelDelegate() = default;
};

// Greys out the entries the delegate does not enable; they can then be
// neither selected nor opened.
class EnabledEntriesProxyModel : public QSortFilterProxyModel {
    Q_OBJECT
public:
    EnabledEntriesProxyModel(const ApplicationPanelDelegate& delegate, QObject* parent);
    Qt::ItemFlags flags(const QModelIndex& index) const override;

private:
    const ApplicationPanelDelegate& m_delegate;
};

// An open panel in which application bundles are single items: picking one
// chooses it (if the delegate takes it) rather than opening it as a folder.
// A refused pick keeps the panel open without a message.
class ApplicationPanel : public QFileDialog {
    Q_OBJECT
public:
    ApplicationPanel(QWidget* parent, const ApplicationPanelDelegate& delegate);

    // The entry chosen when the panel ended with OK.
    QUrl url() const { return m_chosen; }

    void accept() override;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    bool chooseIfValid(const QString& path);

    const ApplicationPanelDelegate& m_delegate;
    QUrl m_chosen;
};

} // namespace installer
