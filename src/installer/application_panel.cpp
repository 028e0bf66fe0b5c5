#include "installer/application_panel.h"

#include <QAbstractItemView>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QTreeView>

namespace installer {

namespace {

// QFileDialog's own default leaves the names and dates in its detail view
// cut short.
constexpr QSize kPanelSize(760, 480);
constexpr int kNameColumnWidth = 340;

QString entryPath(const QModelIndex& index)
{
    return index.data(QFileSystemModel::FilePathRole).toString();
}

} // namespace

EnabledEntriesProxyModel::EnabledEntriesProxyModel(const ApplicationPanelDelegate& delegate, QObject* parent)
    : QSortFilterProxyModel(parent)
    , m_delegate(delegate)
{
}

Qt::ItemFlags EnabledEntriesProxyModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QSortFilterProxyModel::flags(index);
    const QString path = entryPath(index);
    if (!path.isEmpty() && !m_delegate.panelShouldEnableURL(QUrl::fromLocalFile(path)))
        flags &= ~(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
    return flags;
}

ApplicationPanel::ApplicationPanel(QWidget* parent, const ApplicationPanelDelegate& delegate)
    : QFileDialog(parent)
    , m_delegate(delegate)
{
    // The platform's own dialog would take neither our proxy model nor our
    // accept check.
    setOption(QFileDialog::DontUseNativeDialog);
    setProxyModel(new EnabledEntriesProxyModel(delegate, this));
    setAcceptMode(QFileDialog::AcceptOpen);
    // Bundles are chosen as files; ordinary folders can only be opened.
    setFileMode(QFileDialog::ExistingFile);
    resize(kPanelSize);
    if (auto* details = findChild<QTreeView*>(QStringLiteral("treeView"))) {
        details->header()->resizeSection(0, kNameColumnWidth);
        details->header()->setSectionResizeMode(QHeaderView::Interactive);
        details->header()->setStretchLastSection(true);
    }
    // The file dialog opens any directory it is asked to "activate", bundles
    // included; we catch double clicks and Return on a bundle first.
    for (auto* view : findChildren<QAbstractItemView*>()) {
        if (view->objectName() == u"listView" || view->objectName() == u"treeView") {
            view->installEventFilter(this);
            view->viewport()->installEventFilter(this);
        }
    }
}

bool ApplicationPanel::chooseIfValid(const QString& path)
{
    const QUrl url = QUrl::fromLocalFile(path);
    if (path.isEmpty() || !m_delegate.panelValidateURL(url))
        return false;
    m_chosen = url;
    QDialog::accept();
    return true;
}

void ApplicationPanel::accept()
{
    const QStringList files = selectedFiles();
    if (files.size() != 1)
        return;
    if (chooseIfValid(files.front()))
        return;
    // An entry that is enabled but not taken is a folder to look inside,
    // which the file dialog does on accept.
    if (m_delegate.panelShouldEnableURL(QUrl::fromLocalFile(files.front())))
        QFileDialog::accept();
}

bool ApplicationPanel::eventFilter(QObject* watched, QEvent* event)
{
    QAbstractItemView* view = nullptr;
    QModelIndex index;
    if (event->type() == QEvent::MouseButtonDblClick) {
        view = qobject_cast<QAbstractItemView*>(watched->parent());
        if (view)
            index = view->indexAt(static_cast<QMouseEvent*>(event)->position().toPoint());
    } else if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        view = qobject_cast<QAbstractItemView*>(watched);
        if (view && (key == Qt::Key_Return || key == Qt::Key_Enter))
            index = view->currentIndex();
    }
    if (view && index.isValid() && chooseIfValid(entryPath(index)))
        return true;
    return QFileDialog::eventFilter(watched, event);
}

} // namespace installer
