#include "ui/HelpWindow.h"

#include <QFile>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QSplitter>
#include <QTextBrowser>
#include <QTextDocument>
#include <QUrl>
#include <QVBoxLayout>

namespace tamsin::ui {

namespace {
constexpr int kAnchorRole = Qt::UserRole;
}

HelpWindow::HelpWindow(QWidget* parent, const QString& caption, const QString& searchPlaceholder) :
    QDialog(parent), contents_(new QListWidget), browser_(new QTextBrowser), search_(new QLineEdit)
{
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(caption);
    setModal(false);
    contents_->setObjectName(QStringLiteral("helpContents"));
    browser_->setObjectName(QStringLiteral("helpPage"));
    // Links to other sites go to the desktop's browser; the manual's own pages stay here.
    browser_->setOpenExternalLinks(true);
    search_->setObjectName(QStringLiteral("helpSearch"));
    search_->setPlaceholderText(searchPlaceholder);
    search_->setClearButtonEnabled(true);

    auto* splitter = new QSplitter(Qt::Horizontal);
    splitter->addWidget(contents_);
    splitter->addWidget(browser_);
    splitter->setStretchFactor(1, 1);
    splitter->setSizes({220, 680});
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(search_);
    layout->addWidget(splitter, 1);
    resize(960, 680);

    connect(contents_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (item)
            browser_->scrollToAnchor(item->data(kAnchorRole).toString());
    });
    connect(search_, &QLineEdit::returnPressed, this, [this] { findNext(); });
}

void HelpWindow::openPage(const QString& path)
{
    browser_->setSource(QUrl::fromLocalFile(path));
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        fillContents(QString::fromUtf8(file.readAll()));
}

void HelpWindow::fillContents(const QString& html)
{
    contents_->clear();
    // Sections are written <h2 id="x"><a name="x">Title</a></h2> (h3 alike).
    static const QRegularExpression heading(
        QStringLiteral(R"re(<h([23])[^>]*>\s*<a name="([^"]+)">(.*?)</a>\s*</h\1>)re"),
        QRegularExpression::DotMatchesEverythingOption);
    for (auto it = heading.globalMatch(html); it.hasNext();) {
        const auto match = it.next();
        QTextDocument title;
        title.setHtml(match.captured(3));
        const QString indent = match.captured(1) == QLatin1String("3") ? QStringLiteral("    ") : QString();
        auto* item = new QListWidgetItem(indent + title.toPlainText().simplified(), contents_);
        item->setData(kAnchorRole, match.captured(2));
    }
}

bool HelpWindow::findNext()
{
    const QString text = search_->text();
    if (text.isEmpty())
        return false;
    if (browser_->find(text))
        return true;
    QTextCursor top = browser_->textCursor();
    top.movePosition(QTextCursor::Start);
    browser_->setTextCursor(top);
    return browser_->find(text);
}

} // namespace tamsin::ui
