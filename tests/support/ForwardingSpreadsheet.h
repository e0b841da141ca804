#pragma once
#include "platform/Spreadsheet.h"

#include <functional>
#include <memory>

// Hands every operation on to another spreadsheet, each through around(): a
// test injects a fault there, a benchmark times it.
class ForwardingSpreadsheet : public Spreadsheet {
public:
    explicit ForwardingSpreadsheet(std::unique_ptr<Spreadsheet> inner) : inner_(std::move(inner)) {}

    void connect() override {
        around("connect", [&] { inner_->connect(); });
    }
    void openWorkbook(const QString& p) override {
        around("open", [&] { inner_->openWorkbook(p); });
    }
    void openWorkbook(const QString& t, const QString& p) override {
        around("open", [&] { inner_->openWorkbook(t, p); });
    }
    void writeRows(int r, int c, const std::vector<Row>& rows) override {
        around("write rows", [&] { inner_->writeRows(r, c, rows); });
    }
    void alignRight(int r, int a, int b) override {
        around("total row", [&] { inner_->alignRight(r, a, b); });
    }
    void setBold(int r, int a, int b) override {
        around("total row", [&] { inner_->setBold(r, a, b); });
    }
    void hideColumn(int c) override {
        around("total row", [&] { inner_->hideColumn(c); });
    }
    void saveWorkbookAside(const QString& p) override {
        around("save", [&] { inner_->saveWorkbookAside(p); });
    }
    void markSaved() override {
        around("saved", [&] { inner_->markSaved(); });
    }
    void makeVisible() override {
        around("show", [&] { inner_->makeVisible(); });
    }
    void disconnect() override {
        around("disconnect", [&] { inner_->disconnect(); });
    }
    void closeWorkbook() override {
        around("close", [&] { inner_->closeWorkbook(); });
    }

protected:
    virtual void around(const char* operation, const std::function<void()>& call) {
        (void)operation;
        call();
    }

private:
    std::unique_ptr<Spreadsheet> inner_;
};
