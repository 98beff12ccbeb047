#pragma once
// The tree objects: the data of every item of the three navigation trees.
// An object names a user, computer or program by the service's id and its
// display text, points to its parent item's object, and owns the report
// shown while its item is the selected one. Its kind (tested at run time by
// class name or inherits()) decides how children are fetched, which report is
// built and which key the report sends.
#include "proto/query_request.h"
#include "trees/report_maker.h"

#include <QObject>
#include <QString>

#include <memory>

class QTreeWidgetItem;

class CTreeObject : public QObject {
    Q_OBJECT

public:
    ~CTreeObject() override;

    quint32 Id() const { return id_; }
    const QString& Name() const { return name_; }
    CTreeObject* ParentObject() const { return parent_; }
    QObject* Report() const { return report_.get(); }
    // Takes ownership; a report held before is destroyed.
    void SetReport(QObject* report);

    // Fetches the children of the item that carries this object.
    virtual bool LoadChildren(QTreeWidgetItem* item) = 0;
    // Destroys the report, if any; harmless when there is none.
    virtual void DeleteReport();
    // Builds this kind's report through the installed maker and runs it.
    virtual void CreateReport();
    // Writes the entity words of a zeroed request (kind and ids).
    virtual void FillQueryKey(QueryRequest& request) const;

protected:
    CTreeObject(quint32 id, QString name, CTreeObject* parent);
    // The kind of report this object shows.
    virtual ReportKind KindOfReport() const = 0;

private:
    quint32 id_;
    QString name_;
    std::unique_ptr<QObject> report_;  // owned
    CTreeObject* parent_;              // not owned
};

// Users tree, level 1: a monitored user.
class CUserObject : public CTreeObject {
    Q_OBJECT
public:
    CUserObject(quint32 id, QString name) : CTreeObject(id, std::move(name), nullptr) {}
    bool LoadChildren(QTreeWidgetItem* item) override;
    ReportKind KindOfReport() const override { return ReportKind::User; }
};

// Users tree, level 2: a computer the parent user worked on.
class CComputerObject : public CTreeObject {
    Q_OBJECT
public:
    CComputerObject(quint32 id, QString name, CTreeObject* parent) : CTreeObject(id, std::move(name), parent) {}
    bool LoadChildren(QTreeWidgetItem* item) override;
    ReportKind KindOfReport() const override { return ReportKind::Computer; }
    void FillQueryKey(QueryRequest& request) const override;
};

// Users tree, level 3 (a leaf): a program the user ran on that computer.
class CApplicationObject : public CTreeObject {
    Q_OBJECT
public:
    CApplicationObject(quint32 id, QString name, CTreeObject* parent) : CTreeObject(id, std::move(name), parent) {}
    bool LoadChildren(QTreeWidgetItem* item) override;
    ReportKind KindOfReport() const override { return ReportKind::Application; }
    void FillQueryKey(QueryRequest& request) const override;
};

// Computers tree, level 1: a monitored computer.
class CWorkstationObject : public CTreeObject {
    Q_OBJECT
public:
    CWorkstationObject(quint32 id, QString name) : CTreeObject(id, std::move(name), nullptr) {}
    bool LoadChildren(QTreeWidgetItem* item) override;
    ReportKind KindOfReport() const override { return ReportKind::Workstation; }
};

// Computers tree, level 2: a user who worked on the parent computer.
class CCompUserObject : public CTreeObject {
    Q_OBJECT
public:
    CCompUserObject(quint32 id, QString name, CTreeObject* parent) : CTreeObject(id, std::move(name), parent) {}
    bool LoadChildren(QTreeWidgetItem* item) override;
    ReportKind KindOfReport() const override { return ReportKind::Computer; }
    void FillQueryKey(QueryRequest& request) const override;
};

// Computers tree, level 3 (a leaf): a program that user ran on that
// computer; the parent and grandparent play the opposite roles.
class CWsUsApplicationObject : public CApplicationObject {
    Q_OBJECT
public:
    CWsUsApplicationObject(quint32 id, QString name, CTreeObject* parent)
        : CApplicationObject(id, std::move(name), parent) {}
    void FillQueryKey(QueryRequest& request) const override;
};

// Applications tree, level 1: a monitored program.
class CProgramObject : public CTreeObject {
    Q_OBJECT
public:
    CProgramObject(quint32 id, QString name) : CTreeObject(id, std::move(name), nullptr) {}
    bool LoadChildren(QTreeWidgetItem* item) override;
    ReportKind KindOfReport() const override { return ReportKind::Program; }
    void FillQueryKey(QueryRequest& request) const override;
};

// Applications tree, level 2 (a leaf): a user who ran the parent program.
class CAppUserObject : public CTreeObject {
    Q_OBJECT
public:
    CAppUserObject(quint32 id, QString name, CTreeObject* parent) : CTreeObject(id, std::move(name), parent) {}
    bool LoadChildren(QTreeWidgetItem* item) override;
    ReportKind KindOfReport() const override { return ReportKind::AppUser; }
    void FillQueryKey(QueryRequest& request) const override;
};

// The item's data word: the object it owns, or null. Qt never deletes it;
// the pane's and the document's walks release it explicitly.
CTreeObject* TreeObjectOf(const QTreeWidgetItem* item);
void SetTreeObject(QTreeWidgetItem* item, CTreeObject* object);
