#pragma once
// The waiting tree control: a tree that fetches an item's children each time
// the item is opened and drops them when it is closed. While a fetch runs it
// shows a "Loading..." item over a frozen picture of the tree, and an
// animation thread, woken by a periodic timer and by repaints, steps a
// waiting effect whose frames the GUI thread draws.
#include <QPixmap>
#include <QTreeWidget>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

class CAutoResetEvents;
class CPeriodicTimer;
class CSnapshotOverlay;

// The window that holds a CVSTreeCtrl (its pane) fills it.
class IWaitingTreeHost {
public:
    virtual ~IWaitingTreeHost() = default;
    virtual void LoadRoot() = 0;
    virtual bool LoadItemChildren(QTreeWidgetItem* item) = 0;
    // The children of parent are about to be deleted: release what hangs on
    // them (their objects and reports).
    virtual void ReleaseChildObjects(QTreeWidgetItem* parent) = 0;
};

// The expand button of an item that may have children not fetched yet.
bool HasChildrenMark(const QTreeWidgetItem* item);
void SetHasChildrenMark(QTreeWidgetItem* item, bool mark);

class CWaitingTreeCtrl : public QTreeWidget {
    Q_OBJECT
    friend class CSnapshotOverlay;

public:
    static constexpr const char* kWaitingText = "Loading...";

    explicit CWaitingTreeCtrl(QWidget* parent = nullptr);
    ~CWaitingTreeCtrl() override;

    // Fills the top level anew with the waiting display.
    void RefreshRoot();
    // Deletes every child item of the item (the top level for the root),
    // after the host has released their objects. A selection inside them
    // moves to the item first.
    void DeleteChildren(QTreeWidgetItem* item);

    // The top level's handle.
    QTreeWidgetItem* RootItem() const { return invisibleRootItem(); }
    bool IsFilling() const { return fillingItem_ != nullptr; }
    bool IsSnapshotShown() const { return snapshotShown_; }

    void SetTimerPeriod(std::chrono::milliseconds period) { timerPeriod_ = period; }
    std::chrono::milliseconds TimerPeriod() const { return timerPeriod_; }
    void SetShowWaiting(bool show) { showWaiting_ = show; }
    void SetWaitingIcon(const QPixmap& icon) { waitingIcon_ = icon; }

signals:
    // A frame of the waiting effect reached the GUI thread and was drawn.
    void EffectFrameShown(int frame);

protected:
    virtual void BeginWaitEffect(QTreeWidgetItem* waitingItem);
    // On the animation thread.
    virtual void StepWaitEffect(bool timerTick, int stepCount, int animationStep);
    virtual void EndWaitEffect();
    virtual bool RefreshOnExpand(QTreeWidgetItem* item);
    virtual bool FillItem(QTreeWidgetItem* item) = 0;
    // Called before the children of parent are deleted; nothing here.
    virtual void ReleaseChildren(QTreeWidgetItem* parent);

    // From the animation thread: has the GUI thread show this frame.
    void PostEffectFrame(int frame);
    // On the GUI thread: take the frame and repaint its place.
    virtual void ShowEffectFrame(int frame);
    // On the GUI thread: draws the effect over the snapshot.
    virtual void PaintWaitEffect(QPainter& painter);
    // Repaints part of the frozen picture (viewport coordinates).
    void RepaintSnapshot(const QRect& rect);
    // Where an item's image is drawn, in viewport coordinates; empty when
    // the item's rectangle cannot be read.
    QRect ImagePlace(QTreeWidgetItem* item) const;

    void resizeEvent(QResizeEvent* event) override;

private:
    enum Event : std::size_t { kTimerEvent = 0, kRedrawEvent = 1, kEventCount = 2 };

    void OnItemExpanded(QTreeWidgetItem* item);
    void OnItemCollapsed(QTreeWidgetItem* item);
    void PrepareItem(QTreeWidgetItem* item);
    void FillWithWaiting(QTreeWidgetItem* item);
    bool FillGuarded(QTreeWidgetItem* item);
    void StartAnimation();
    void StopAnimation();
    void AnimationLoop();
    void OnSnapshotPainted();
    bool IsInside(const QTreeWidgetItem* item, const QTreeWidgetItem* ancestor) const;

    std::thread animationThread_;
    std::unique_ptr<CAutoResetEvents> events_;  // timer and redraw
    std::unique_ptr<CPeriodicTimer> timer_;
    std::atomic<bool> stop_{false};
    bool snapshotShown_ = false;
    QPixmap snapshot_;
    CSnapshotOverlay* overlay_;  // child widget; shows the snapshot
    std::chrono::milliseconds timerPeriod_{0};
    QPixmap waitingIcon_;
    bool showWaiting_ = false;
    int animationStep_ = 0;
    int stepCount_ = 0;
    QTreeWidgetItem* waitingItem_ = nullptr;
    QTreeWidgetItem* fillingItem_ = nullptr;
    unsigned generation_ = 0;  // tells frames of an ended filling apart
};

// The waiting tree of this system: every opening fetches anew; the filling
// goes to the host window (the pane) that holds the tree.
class CVSTreeCtrl : public CWaitingTreeCtrl {
    Q_OBJECT
public:
    explicit CVSTreeCtrl(QWidget* parent = nullptr);

    // Null when no window up the parent chain is a host.
    IWaitingTreeHost* Host() const;

protected:
    bool RefreshOnExpand(QTreeWidgetItem* item) override;
    bool FillItem(QTreeWidgetItem* item) override;
    void ReleaseChildren(QTreeWidgetItem* parent) override;
};

// The hourglass as the waiting effect: ten frames, one step per 125 ms tick,
// drawn over the waiting item's image place on the tree's background.
QList<QPixmap> LoadHourglassFrames(int sizePx);

template <class T>
class CHourglassFX : public T {
public:
    static constexpr std::chrono::milliseconds kPeriod{125};
    static constexpr int kFrameCount = 10;

    explicit CHourglassFX(QWidget* parent = nullptr) : T(parent), frames_(LoadHourglassFrames(kFrameSize)) {
        this->SetShowWaiting(true);
        this->SetTimerPeriod(kPeriod);
    }

    int FrameNumber() const { return frameNumber_; }  // between fillings

protected:
    void BeginWaitEffect(QTreeWidgetItem* waitingItem) override {
        frameNumber_ = 0;
        shownFrame_ = -1;
        const QRect place = this->ImagePlace(waitingItem);
        if (!place.isEmpty()) animationRect_ = place;
        // Low 24 bits only: a system colour reads as white.
        background_ = QColor::fromRgb(this->palette().color(QPalette::Base).rgb() & 0xFFFFFFu);
    }
    void StepWaitEffect(bool timerTick, int, int) override {
        if (!timerTick) return;
        frameNumber_ = (frameNumber_ + 1) % kFrameCount;
        this->PostEffectFrame(frameNumber_);
    }
    void EndWaitEffect() override { shownFrame_ = -1; }
    void ShowEffectFrame(int frame) override {
        shownFrame_ = frame;
        this->RepaintSnapshot(animationRect_);
    }
    void PaintWaitEffect(QPainter& painter) override;

private:
    static constexpr int kFrameSize = 16;

    QList<QPixmap> frames_;
    QRect animationRect_;
    QColor background_;
    int frameNumber_ = 0;  // written by the animation thread while it runs
    int shownFrame_ = -1;  // GUI thread
};

void PaintHourglassFrame(QPainter& painter, const QRect& rect, const QColor& background, const QPixmap& frame);

template <class T>
void CHourglassFX<T>::PaintWaitEffect(QPainter& painter) {
    if (shownFrame_ < 0 || shownFrame_ >= frames_.size() || animationRect_.isEmpty()) return;
    PaintHourglassFrame(painter, animationRect_, background_, frames_.at(shownFrame_));
}
