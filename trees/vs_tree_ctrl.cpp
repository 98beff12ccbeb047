#include "trees/vs_tree_ctrl.h"

#include "platform/auto_reset_events.h"
#include "platform/periodic_timer.h"
#include "resources/app_resources.h"

#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionViewItem>

#include <exception>

// Covers the viewport while the tree is filled and shows the picture taken
// before, with the waiting effect over it. The tree's own painting is off
// meanwhile, so the user never sees it redrawn item by item.
class CSnapshotOverlay : public QWidget {
public:
    explicit CSnapshotOverlay(CWaitingTreeCtrl* tree) : QWidget(tree), tree_(tree) {
        setAttribute(Qt::WA_OpaquePaintEvent);
        setAttribute(Qt::WA_TransparentForMouseEvents);
        hide();
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter painter(this);
        painter.drawPixmap(0, 0, tree_->snapshot_);
        tree_->PaintWaitEffect(painter);
        tree_->OnSnapshotPainted();
    }

private:
    CWaitingTreeCtrl* tree_;  // not owned: the parent
};

bool HasChildrenMark(const QTreeWidgetItem* item) {
    return item && (item->childCount() > 0 || item->childIndicatorPolicy() == QTreeWidgetItem::ShowIndicator);
}

void SetHasChildrenMark(QTreeWidgetItem* item, bool mark) {
    if (item)
        item->setChildIndicatorPolicy(mark ? QTreeWidgetItem::ShowIndicator
                                           : QTreeWidgetItem::DontShowIndicatorWhenChildless);
}

CWaitingTreeCtrl::CWaitingTreeCtrl(QWidget* parent) : QTreeWidget(parent), overlay_(new CSnapshotOverlay(this)) {
    setHeaderHidden(true);
    setColumnCount(1);
    setRootIsDecorated(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(this, &QTreeWidget::itemExpanded, this, &CWaitingTreeCtrl::OnItemExpanded);
    connect(this, &QTreeWidget::itemCollapsed, this, &CWaitingTreeCtrl::OnItemCollapsed);
}

// A filling always ends inside the call that began it; nothing runs here.
CWaitingTreeCtrl::~CWaitingTreeCtrl() = default;

void CWaitingTreeCtrl::BeginWaitEffect(QTreeWidgetItem*) {}
void CWaitingTreeCtrl::StepWaitEffect(bool, int, int) {}
void CWaitingTreeCtrl::EndWaitEffect() {}
bool CWaitingTreeCtrl::RefreshOnExpand(QTreeWidgetItem*) { return false; }
void CWaitingTreeCtrl::ReleaseChildren(QTreeWidgetItem*) {}
void CWaitingTreeCtrl::ShowEffectFrame(int) {}
void CWaitingTreeCtrl::PaintWaitEffect(QPainter&) {}

void CWaitingTreeCtrl::RefreshRoot() {
    PrepareItem(RootItem());
    FillWithWaiting(RootItem());
    QScrollBar* horizontal = horizontalScrollBar();
    const int column = horizontal->value();
    if (QTreeWidgetItem* first = topLevelItem(0)) scrollToItem(first);
    horizontal->setValue(column);
}

bool CWaitingTreeCtrl::IsInside(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) const {
    if (ancestor == RootItem()) return item != nullptr;
    for (const QTreeWidgetItem* up = item ? item->parent() : nullptr; up; up = up->parent())
        if (up == ancestor) return true;
    return false;
}

void CWaitingTreeCtrl::DeleteChildren(QTreeWidgetItem* item) {
    if (!item || item->childCount() == 0) return;
    ReleaseChildren(item);
    // As a closed item takes the selection from its hidden children; the
    // top level has no such item, so the selection just goes.
    if (item != RootItem() && IsInside(currentItem(), item)) setCurrentItem(item);
    const QSignalBlocker quiet(this);
    const QList<QTreeWidgetItem*> children = item->takeChildren();
    qDeleteAll(children);
}

void CWaitingTreeCtrl::OnItemExpanded(QTreeWidgetItem* item) {
    if (fillingItem_) return;  // an opening from inside a filling fetches nothing
    PrepareItem(item);
    FillWithWaiting(item);
}

void CWaitingTreeCtrl::OnItemCollapsed(QTreeWidgetItem* item) {
    if (fillingItem_) return;
    if (RefreshOnExpand(item)) DeleteChildren(item);
}

void CWaitingTreeCtrl::PrepareItem(QTreeWidgetItem* item) {
    if (item->childCount() > 0) {
        if (!RefreshOnExpand(item)) {
            fillingItem_ = nullptr;
            return;
        }
        DeleteChildren(item);
    }
    fillingItem_ = item;
    viewport()->setUpdatesEnabled(false);
    waitingItem_ = new QTreeWidgetItem(QStringList(QString::fromLatin1(kWaitingText)));
    // The waiting item keeps an image place, where the effect is drawn.
    QPixmap place = waitingIcon_;
    if (place.isNull()) {
        const QSize size = iconSize().isValid() ? iconSize() : QSize(16, 16);
        place = QPixmap(size);
        place.fill(Qt::transparent);
    }
    waitingItem_->setIcon(0, QIcon(place));
    waitingItem_->setFlags(Qt::ItemIsEnabled);
    item->addChild(waitingItem_);
    stepCount_ = 1;
    animationStep_ = 0;
}

void CWaitingTreeCtrl::FillWithWaiting(QTreeWidgetItem* item) {
    if (!fillingItem_) return;
    if (showWaiting_) {
        viewport()->setUpdatesEnabled(true);
        scrollToItem(waitingItem_);
    }
    StartAnimation();
    snapshot_ = viewport()->grab();
    viewport()->setUpdatesEnabled(false);
    overlay_->setGeometry(viewport()->geometry());
    overlay_->raise();
    overlay_->show();
    snapshotShown_ = true;
    delete waitingItem_;
    waitingItem_ = nullptr;

    const bool ok = FillGuarded(item);

    StopAnimation();
    fillingItem_ = nullptr;
    if (item != RootItem()) {
        const bool hasChild = item->childCount() > 0;
        if (ok)
            SetHasChildrenMark(item, hasChild);
        else if (!hasChild)
            item->setExpanded(false);  // shows closed; keeps its expand button
    }
    overlay_->hide();
    snapshot_ = QPixmap();
    snapshotShown_ = false;
    viewport()->setUpdatesEnabled(true);
}

// The animation thread must be stopped whatever the loader does; a fault
// that escapes it counts as a failed fetch.
bool CWaitingTreeCtrl::FillGuarded(QTreeWidgetItem* item) {
    try {
        return FillItem(item);
    } catch (const std::exception& error) {
        qWarning("qvviewer: filling a tree failed: %s", error.what());
        return false;
    }
}

void CWaitingTreeCtrl::StartAnimation() {
    BeginWaitEffect(waitingItem_);
    stop_ = false;
    ++generation_;
    events_ = std::make_unique<CAutoResetEvents>(kEventCount, true);
    animationThread_ = std::thread([this] { AnimationLoop(); });
    if (timerPeriod_.count() > 0) {
        CAutoResetEvents* events = events_.get();
        timer_ = std::make_unique<CPeriodicTimer>(timerPeriod_, [events] { events->Set(kTimerEvent); });
    }
}

void CWaitingTreeCtrl::StopAnimation() {
    timer_.reset();
    stop_ = true;
    events_->Set(kRedrawEvent);
    animationThread_.join();
    events_.reset();
    EndWaitEffect();
}

void CWaitingTreeCtrl::AnimationLoop() {
    while (!stop_) {
        const std::size_t woken = events_->WaitAny();
        if (stop_) break;
        StepWaitEffect(woken == kTimerEvent, stepCount_, animationStep_);
    }
}

void CWaitingTreeCtrl::PostEffectFrame(int frame) {
    const unsigned generation = generation_;
    QMetaObject::invokeMethod(
        this,
        [this, generation, frame] {
            if (generation != generation_ || !snapshotShown_) return;  // a frame of an ended filling
            ShowEffectFrame(frame);
            emit EffectFrameShown(frame);
        },
        Qt::QueuedConnection);
}

void CWaitingTreeCtrl::RepaintSnapshot(const QRect& rect) {
    if (snapshotShown_ && !rect.isEmpty()) overlay_->repaint(rect);
}

void CWaitingTreeCtrl::OnSnapshotPainted() {
    if (events_) events_->Set(kRedrawEvent);
}

QRect CWaitingTreeCtrl::ImagePlace(QTreeWidgetItem* item) const {
    if (!item) return {};
    const QRect rect = visualItemRect(item);
    if (!rect.isValid()) return {};
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.rect = rect;
    option.features |= QStyleOptionViewItem::HasDecoration | QStyleOptionViewItem::HasDisplay;
    option.decorationSize = iconSize().isValid() ? iconSize() : QSize(16, 16);
    option.text = item->text(0);
    return style()->subElementRect(QStyle::SE_ItemViewItemDecoration, &option, this);
}

void CWaitingTreeCtrl::resizeEvent(QResizeEvent* event) {
    QTreeWidget::resizeEvent(event);
    if (snapshotShown_) overlay_->setGeometry(viewport()->geometry());
}

CVSTreeCtrl::CVSTreeCtrl(QWidget* parent) : CWaitingTreeCtrl(parent) {}

IWaitingTreeHost* CVSTreeCtrl::Host() const {
    for (QWidget* up = parentWidget(); up; up = up->parentWidget())
        if (auto* host = dynamic_cast<IWaitingTreeHost*>(up)) return host;
    return nullptr;
}

bool CVSTreeCtrl::RefreshOnExpand(QTreeWidgetItem*) { return true; }

bool CVSTreeCtrl::FillItem(QTreeWidgetItem* item) {
    IWaitingTreeHost* host = Host();
    if (!host) return false;
    if (item == RootItem()) {
        host->LoadRoot();
        return true;
    }
    return host->LoadItemChildren(item);
}

void CVSTreeCtrl::ReleaseChildren(QTreeWidgetItem* parent) {
    if (IWaitingTreeHost* host = Host()) host->ReleaseChildObjects(parent);
}

QList<QPixmap> LoadHourglassFrames(int sizePx) { return HourglassFrames(sizePx); }

void PaintHourglassFrame(QPainter& painter, const QRect& rect, const QColor& background, const QPixmap& frame) {
    painter.fillRect(rect, background);
    painter.drawPixmap(rect.topLeft(), frame.scaled(rect.size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
}
