#pragma once
// Tree objects and a pane whose children come from a scripted source instead of the service: counts fetches, live
// objects and reports, and can block a fetch the way a slow service call does (events keep flowing, input not) until a
// condition holds, so no test hangs on a fixed time.
#include "trees/tree_object.h"
#include "trees/workspace_bar.h"

#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QTimer>
#include <QTreeWidgetItem>

#include <functional>

// Serves events (not input) until done() holds or ten seconds have passed.
inline void BlockUntil(const std::function<bool()>& done) {
    QEventLoop wait;
    QTimer poll;
    const QDeadlineTimer limit(10'000);
    QObject::connect(&poll, &QTimer::timeout, &wait, [&] {
        if (done() || limit.hasExpired()) wait.quit();
    });
    poll.start(1);
    if (!done()) wait.exec(QEventLoop::ExcludeUserInputEvents);
}

struct FakeSource {
    int loads = 0;
    int childrenPerLoad = 3;
    bool succeed = true;
    std::function<bool()> blockUntil;                  // a fetch blocks until it holds
    std::function<void(QTreeWidgetItem*)> duringLoad;  // runs while the fetch blocks
};

class FakeObject : public CTreeObject {
public:
    static inline int live = 0;
    static inline int reportsMade = 0;

    FakeObject(quint32 id, QString name, CTreeObject* parent, FakeSource* source)
        : CTreeObject(id, std::move(name), parent), source_(source) {
        ++live;
    }
    ~FakeObject() override { --live; }

    bool LoadChildren(QTreeWidgetItem* item) override {
        ++source_->loads;
        if (source_->duringLoad) source_->duringLoad(item);
        if (source_->blockUntil) BlockUntil(source_->blockUntil);
        if (!source_->succeed) return false;
        AddChildren(item, source_->childrenPerLoad, this, source_);
        return true;
    }
    ReportKind KindOfReport() const override { return ReportKind::User; }
    void CreateReport() override {
        ++reportsMade;
        lastReport = new QObject;
        SetReport(lastReport);
    }

    static void AddChildren(QTreeWidgetItem* parent, int count, CTreeObject* parentObject, FakeSource* source) {
        for (int i = 1; i <= count; ++i) {
            auto* item = new QTreeWidgetItem(QStringList(QStringLiteral("Item %1").arg(i)));
            SetTreeObject(item, new FakeObject(static_cast<quint32>(i), item->text(0), parentObject, source));
            item->setChildIndicatorPolicy(QTreeWidgetItem::ShowIndicator);
            parent->addChild(item);
        }
    }

    QPointer<QObject> lastReport;

private:
    FakeSource* source_;
};

// A pane whose top level holds `topItems` fake objects, loaded unless told not to.
class FakePane : public CWorkSpaceBar {
public:
    explicit FakePane(FakeSource* source, int topItems = 2, bool load = true)
        : CWorkSpaceBar(999, QStringLiteral("Test")), source_(source), topItems_(topItems) {
        if (load) Tree()->RefreshRoot();
    }
    void LoadRoot() override {
        ++rootLoads;
        FakeObject::AddChildren(Tree()->invisibleRootItem(), topItems_, nullptr, source_);
    }
    int rootLoads = 0;

private:
    FakeSource* source_;
    int topItems_;
};

inline FakeObject* FakeOf(const QTreeWidgetItem* item) { return static_cast<FakeObject*>(TreeObjectOf(item)); }
