// The catalog access object: a catalog bound to a connection string, a current table, and
// single statements run on a connection of their own.
#include "dbacc.h"

#include "dbg.h"
#include "plat_cp1252.h"

void dbacc_SetComErrorText(char (&text)[1000], const ado::ComError &error);

namespace {

std::string utf8(const std::u16string &t) {
    return ado::ToUtf8(t);
}

void traceLine(const std::u16string &text) {
    dbg_WriteTrace((plat_Utf8ToCp1252(utf8(text)) + "\r\n").c_str());
}

} // namespace

CLogITDbAcc::CLogITDbAcc() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    catalog_ = std::make_unique<ado::Catalog>();
    table_ = std::make_unique<ado::Table>();
}

void CLogITDbAcc::SetComError(const ado::ComError &error) {
    dbacc_SetComErrorText(errorText_, error);
}

int32_t CLogITDbAcc::CheckObjects() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (catalog_ && table_) return 1;
    connected_ = 0;
    return 0;
}

int32_t CLogITDbAcc::AppendColumns(const std::u16string &table, int32_t count,
                                   const ado::Variant *names, const ado::Variant *types,
                                   const ado::Variant *sizes, int32_t autoIncrementIndex) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!names || !types || !sizes || count == 0 || table.empty()) return DBACC_E_INVALIDARG;
    for (const ado::Variant *v : {names, types, sizes})
        if (!(v->vt & 0x2000) || v->items.empty()) return DBACC_E_INVALIDARG;
    if (!CheckObjects() || !open_ || !connected_) return DBACC_E_NOTREADY;
    auto build = [&](bool timeStamps, ado::Table *t) -> bool {
        t->Name = utf8(table);
        t->ParentCatalog = catalog_.get();
        for (int32_t k = 0; k < count; ++k) {
            size_t i = static_cast<size_t>(k);
            if (i >= names->items.size() || i >= types->items.size() || i >= sizes->items.size())
                return false;
            int32_t type = static_cast<int32_t>(types->items[i].AsInt());
            if (timeStamps && type == ado::adDate) type = ado::adDBTimeStamp;
            t->AppendColumn(utf8(names->items[i].s), type,
                            static_cast<int32_t>(sizes->items[i].AsInt()));
            if (k == autoIncrementIndex)
                t->ColumnItem(utf8(names->items[i].s))
                    .SetProperty("AutoIncrement", ado::Variant::Bool(true));
        }
        return true;
    };
    try {
        auto first = std::make_unique<ado::Table>();
        if (!build(false, first.get())) return DBACC_E_INVALIDARG;
        try {
            catalog_->AppendTable(*first);
            table_ = std::move(first);
            tableSelected_ = 1;
            return 0;
        } catch (const ado::ComError &) {
            // Some providers refuse adDate columns; they take adDBTimeStamp.
        }
        auto second = std::make_unique<ado::Table>();
        build(true, second.get());
        catalog_->AppendTable(*second);
        table_ = std::move(second);
        tableSelected_ = 1;
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return e.hr;
    } catch (...) {
        return DBACC_E_APPENDCOLUMNS;
    }
}

int32_t CLogITDbAcc::CreateTable(const std::u16string &table, const std::u16string &column,
                                 int32_t type, int32_t size, int32_t autoIncrement) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!CheckObjects()) return 1;
    if (!open_ || !connected_) return 0;
    try {
        auto t = std::make_unique<ado::Table>();
        t->Name = utf8(table);
        t->ParentCatalog = catalog_.get();
        t->AppendColumn(utf8(column), type, size);
        if (autoIncrement)
            t->ColumnItem(utf8(column)).SetProperty("AutoIncrement", ado::Variant::Bool(true));
        catalog_->AppendTable(*t);
        table_ = std::move(t);
        tableSelected_ = 1;
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return DBACC_E_FAIL;
    } catch (...) {
        return DBACC_E_FAIL;
    }
}

int32_t CLogITDbAcc::GetTableCount(int32_t *out) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    try {
        if (!catalog_)
            throw ado::ComError(static_cast<ado::HRESULT>(0x80004003), "Invalid pointer", "");
        int32_t n = catalog_->TableCount();
        if (out) *out = n;
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return 1;
    } catch (...) {
        return 1;
    }
}

int32_t CLogITDbAcc::Close() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    table_.reset();
    catalog_.reset();
    return 0;
}

int32_t CLogITDbAcc::OpenTable(const std::u16string &table) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!catalog_)
        throw ado::ComError(static_cast<ado::HRESULT>(0x80004003), "Invalid pointer", "");
    table_ = std::make_unique<ado::Table>(catalog_->TableItem(utf8(table)));
    return 0;
}

int32_t CLogITDbAcc::Noop(int32_t) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return 0;
}

int32_t CLogITDbAcc::SelectTable(const std::u16string &table) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!CheckObjects() || !open_ || !connected_) return 1;
    try {
        table_ = std::make_unique<ado::Table>(catalog_->TableItem(utf8(table)));
        tableSelected_ = 1;
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return 1;
    } catch (...) {
        return 1;
    }
}

int32_t CLogITDbAcc::AppendColumn(const std::u16string &column, int32_t type, int32_t size) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!CheckObjects() || !open_ || !connected_ || !tableSelected_) return 1;
    try {
        table_->AppendColumn(utf8(column), type, size);
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return 1;
    } catch (...) {
        return 1;
    }
}

int32_t CLogITDbAcc::ExecuteStatement(const std::u16string &sql) {
    traceLine(sql);
    std::lock_guard<std::recursive_mutex> hold(lock_);
    try {
        ado::Connection c;
        c.connectionTimeout = 300;
        c.SetCommandTimeout(300);
        c.Open(utf8(connectionText_));
        c.Execute(utf8(sql), nullptr, ado::adCmdText);
        c.Close();
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return 1;
    } catch (...) {
        return 1;
    }
}

int32_t CLogITDbAcc::IsClosed() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return open_ && connected_ ? 0 : 1;
}

int32_t CLogITDbAcc::MarkOpen(int32_t, int32_t) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    open_ = 1;
    return 0;
}

int32_t CLogITDbAcc::BindCatalog(const std::u16string &first, const std::u16string &second,
                                 bool create) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!catalog_) {
        connected_ = 0;
        return 1;
    }
    try {
        connectionText_ = first + second;
        if (create)
            catalog_->Create(utf8(connectionText_));
        else
            catalog_->SetActiveConnection(utf8(connectionText_));
        connected_ = 1;
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
    } catch (...) {
    }
    connected_ = 0;
    return 1;
}

int32_t CLogITDbAcc::OpenCatalog(const std::u16string &first, const std::u16string &second) {
    traceLine(first);
    return BindCatalog(first, second, false);
}

int32_t CLogITDbAcc::CreateCatalog(const std::u16string &first, const std::u16string &second) {
    return BindCatalog(first, second, true);
}

int32_t CLogITDbAcc::SetColumnProperty(const std::u16string &column, const std::u16string &property,
                                       ado::Variant value) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    if (!CheckObjects() || !open_ || !connected_ || !tableSelected_ || !table_) return 1;
    try {
        table_->ColumnItem(utf8(column)).SetProperty(utf8(property), value);
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return 1;
    } catch (...) {
        return 1;
    }
}
