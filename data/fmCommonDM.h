#pragma once
#include "data/SqlConnection.h"
#include "data/SqlQuery.h"

#include <memory>

// A query member of the data module. Releasing it destroys the query object;
// using it afterwards is an error, never a dangling access.
class OwnedQuery {
public:
    OwnedQuery(SqlConnection& connection, const QString& name, QStringList lines);
    SqlQuery* operator->() const;
    SqlQuery& operator*() const { return *operator->(); }
    void release() { query_.reset(); }
    bool released() const { return !query_; }

private:
    QString name_;
    std::unique_ptr<SqlQuery> query_;
};

// The data module dmCommon: the connection to the reporting database and every
// statement of the program as a named query. It has no behaviour of its own.
class TdmCommon {
public:
    TdmCommon(); // loads the stored settings and texts; the connection stays closed
    ~TdmCommon();

    SqlConnection SQLConnectionKvarn;
    OwnedQuery sqCreateDropChannel;
    OwnedQuery sqSettlement;
    OwnedQuery sqTownId;
    OwnedQuery sqPhoneInd;
    OwnedQuery sqListPhone;
    OwnedQuery sqLstPhonDelTab;
    OwnedQuery sqPayDeb;

    // Stored settings of the connection.
    static const char* const ConnectionName;
    static const char* const DriverName;
    static const char* const GetDriverFunc;
    static const char* const LibraryName;
    static const char* const VendorLib;
    static QStringList connectionParams();

    // Stored texts.
    static QStringList linkCheckLines();
    static QStringList settlementLines();
    static QStringList townIdLines();
    static QStringList phoneIndLines();
    static QStringList listPhoneLines();
    static QStringList debtorTemplateLines();
};
