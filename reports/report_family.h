#pragma once
// The six reports. Each knows which question to put to the service for its
// tree item, the columns of its grid, its caption line and its icon; rows
// come in the service's "TimeSpent Desc" order.
#include "reports/report.h"

// A user's computers.
class CUserReport : public CReport {
    Q_OBJECT
public:
    using CReport::CReport;
    void Generate(int unused) override;
};

// A computer's users.
class CWorkstationReport : public CReport {
    Q_OBJECT
public:
    using CReport::CReport;
    void Generate(int unused) override;
};

// The programs of one user on one computer (a computer under a user, or a
// user under a computer).
class CComputerReport : public CReport {
    Q_OBJECT
public:
    using CReport::CReport;
    void Generate(int unused) override;
};

// A program's users.
class CProgramReport : public CReport {
    Q_OBJECT
public:
    using CReport::CReport;
    void Generate(int unused) override;
};

// The window titles of a program for one user on one computer.
class CApplicationReport : public CReport {
    Q_OBJECT
public:
    using CReport::CReport;
    void Generate(int unused) override;
};

// The window titles of a program for one user, on every computer.
class CAppUserReport : public CReport {
    Q_OBJECT
public:
    using CReport::CReport;
    void Generate(int unused) override;
};
