// The data access object: one connection and at most one open recordset.
#include "dbacc.h"

#include "dbg.h"
#include "plat_cp1252.h"
#include "plat_error.h"

#include <cstring>

namespace {

std::string ansi(const std::u16string &text) {
    return plat_Utf8ToCp1252(ado::ToUtf8(text));
}
std::string ansi(const std::string &utf8) {
    return plat_Utf8ToCp1252(utf8);
}

void setLastErrorOf(ado::HRESULT h) {
    uint32_t u = static_cast<uint32_t>(h);
    if (u >= 0x80040200u && u <= 0x8004FFFFu)
        plat_SetLastError((u - 0x200u) & 0xFFFFu);
    else
        plat_SetLastError(0);
}

void traceSql(const std::u16string &sql) {
    dbg_WriteTrace((ansi(sql) + "\r\n").c_str());
}

// Values are equal only with the same kind and the same value (texts unit for unit).
bool sameValue(const ado::Variant &a, const ado::Variant &b) {
    return a == b;
}

ado::Variant boolOf(bool v) {
    return ado::Variant::Bool(v);
}

const ado::ComError kNoPointer(static_cast<ado::HRESULT>(0x80004003), "Invalid pointer", "");

} // namespace

void TraceComError(const ado::ComError &error) {
    setLastErrorOf(error.hr);
    std::string description = error.description.empty() ? "NONE" : ansi(error.description);
    dbg_Printf("\nCOM Exeption: %s \t : %s\r\n", ansi(error.source).c_str(), description.c_str());
}

void dbacc_SetComErrorText(char (&text)[1000], const ado::ComError &error) {
    std::string d = ansi(error.description);
    std::strncpy(text, d.c_str(), 999);
    text[999] = '\0';
    setLastErrorOf(error.hr);
    dbg_Printf("\nCOM Exeption: %s \t : %s\r\n", ansi(error.source).c_str(), d.c_str());
}

CLogITDbDataAcc::CLogITDbDataAcc() = default;

void CLogITDbDataAcc::SetComError(const ado::ComError &error) {
    dbacc_SetComErrorText(errorText_, error);
}

template <typename F>
int32_t CLogITDbDataAcc::frame(int32_t failure, F body) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    try {
        return body();
    } catch (const ado::ComError &e) {
        SetComError(e);
        return failure;
    } catch (...) {
        return failure;
    }
}

ado::Recordset &CLogITDbDataAcc::rs() {
    if (!recordset_) throw kNoPointer;
    return *recordset_;
}

ado::Connection &CLogITDbDataAcc::conn() {
    if (!connection_) throw kNoPointer;
    return *connection_;
}

void CLogITDbDataAcc::dropRecordset(bool swallowCloseFailure) {
    if (!recordset_) return;
    if (recordsetOpen_) {
        try {
            recordset_->Close();
        } catch (...) {
            if (!swallowCloseFailure) throw;
        }
        recordsetOpen_ = 0;
    }
    recordset_.reset();
}

int32_t CLogITDbDataAcc::openSource(const std::u16string &source, int32_t cursor, int32_t lock,
                                    int32_t options, bool swallowCloseFailure) {
    dropRecordset(swallowCloseFailure);
    recordset_ = std::make_unique<ado::Recordset>();
    recordset_->Open(ado::ToUtf8(source), conn(), cursor, lock, options);
    recordsetOpen_ = 1;
    return 0;
}

int32_t CLogITDbDataAcc::OpenRecordset(const std::u16string &sql, int32_t cursor, int32_t lock,
                                       int32_t options) {
    traceSql(sql);
    return frame(DBACC_E_OPEN, [&] { return openSource(sql, cursor, lock, options, true); });
}

int32_t CLogITDbDataAcc::OpenQuery(const std::u16string &first, const std::u16string &second) {
    return frame(DBACC_E_OPEN, [&] {
        if (second == u"D")
            openSource(first, ado::adOpenDynamic, ado::adLockOptimistic, 8, false);
        else
            openSource(first + second, ado::adOpenStatic, ado::adLockOptimistic, 8, false);
        MoveFirst();
        ado::Variant eof;
        IsEOF(&eof);
        if (eof.vt != ado::VT_BOOL) eof = boolOf(eof.AsInt() != 0);
        return eof.i != 0 ? 1 : 0;
    });
}

int32_t CLogITDbDataAcc::CloseRecordset() {
    return frame(DBACC_E_OPEN, [&] {
        dropRecordset(false);
        return 0;
    });
}

int32_t CLogITDbDataAcc::CancelUpdate() {
    return frame(DBACC_E_DELETE, [&] {
        rs().CancelUpdate();
        return 0;
    });
}

int32_t CLogITDbDataAcc::IsBOF(ado::Variant *out) {
    return frame(DBACC_E_BOFEOF, [&] {
        bool v = rs().Bof();
        if (out) *out = boolOf(v);
        return 0;
    });
}

int32_t CLogITDbDataAcc::GetRecordCount(int32_t *out) {
    return frame(DBACC_E_FAIL, [&] {
        int32_t n = rs().RecordCount();
        if (out) *out = n;
        return 0;
    });
}

int32_t CLogITDbDataAcc::UpdateField(const std::u16string &field, ado::Variant value) {
    return frame(DBACC_E_UPDATEFIELD, [&] {
        if (value.vt == ado::VT_BSTR && value.s.empty()) value = ado::Variant::Null();
        rs().Update(ado::Variant::Str(field), value);
        return 0;
    });
}

int32_t CLogITDbDataAcc::IsFieldEqual(ado::Variant value, const std::u16string &field,
                                      ado::Variant *out) {
    return frame(DBACC_E_ISFIELDEQUAL, [&] {
        bool eq = sameValue(rs().Collect(ado::Variant::Str(field)), value);
        if (out) *out = boolOf(eq);
        return 0;
    });
}

int32_t CLogITDbDataAcc::GetFieldValueByName(const std::u16string &field, ado::Variant *out) {
    if (!out) return DBACC_E_INVALIDARG;
    return frame(DBACC_E_GETFIELDBYNAME, [&] {
        *out = ado::Variant();
        *out = rs().Item(ado::Variant::Str(field)).Value();
        return 0;
    });
}

int32_t CLogITDbDataAcc::IsEOF(ado::Variant *out) {
    return frame(DBACC_E_BOFEOF, [&] {
        bool v = rs().Eof();
        if (out) *out = boolOf(v);
        return 0;
    });
}

int32_t CLogITDbDataAcc::AddNew(int32_t, const ado::Variant *fields, const ado::Variant *values) {
    return frame(DBACC_E_ADDNEW, [&] {
        if (!fields || !values) throw kNoPointer;
        ado::Variant f = *fields, v = *values;
        ado::Recordset &r = rs();
        r.AddNew();
        if (f.vt == ado::VT_VARIANTS) {
            for (size_t k = 0; k < f.items.size(); ++k)
                r.PutCollect(f.items[k], k < v.items.size() ? v.items[k] : ado::Variant::Null());
            r.Update();
        } else if (f.vt != ado::VT_ERROR && f.vt != ado::VT_EMPTY) {
            r.PutCollect(f, v);
            r.Update();
        }
        return 0;
    });
}

int32_t CLogITDbDataAcc::FindRow(ado::Variant value, const std::u16string &field,
                                 ado::Variant *out) {
    return frame(DBACC_E_FINDROW, [&] {
        MoveFirst();
        ado::Recordset &r = rs();
        for (;;) {
            if (r.Eof()) {
                if (out) *out = boolOf(false);
                return 0;
            }
            if (sameValue(r.Collect(ado::Variant::Str(field)), value)) {
                if (out) *out = boolOf(true);
                return 0;
            }
            if (MoveNext() != 0) throw ado::ComError(DBACC_E_MOVENEXT, GetErrorText());
        }
    });
}

int32_t CLogITDbDataAcc::GetCollects(int32_t count, const ado::Variant *names, ado::Variant *out) {
    return frame(DBACC_E_GETCOLLECTS, [&] {
        if (count > 0 && (!names || !out)) throw kNoPointer;
        for (int32_t k = 0; k < count; ++k)
            out[k] = rs().Collect(ado::Variant::Str(names[k].s));
        return 0;
    });
}

int32_t CLogITDbDataAcc::SetDoubleFields(int32_t first, int32_t count, const double *values) {
    return frame(DBACC_E_SETDOUBLES, [&] {
        if (count > 0 && !values) throw kNoPointer;
        for (int32_t k = 0; k < count; ++k)
            rs().Item(ado::Variant::I4(first + k)).PutValue(ado::Variant::R8(values[k]));
        return 0;
    });
}

int32_t CLogITDbDataAcc::GetDoubleFields(int32_t first, int32_t count, double *out) {
    if (!out) return DBACC_E_INVALIDARG;
    return frame(DBACC_E_GETDOUBLES, [&] {
        for (int32_t k = 0; k < count; ++k) {
            ado::Variant v = rs().Item(ado::Variant::I4(first + k)).Value();
            if (v.vt != ado::VT_R8) return DBACC_E_GETDOUBLES;
            out[k] = v.d;
        }
        return 0;
    });
}

int32_t CLogITDbDataAcc::Update() {
    return frame(DBACC_E_UPDATE, [&] {
        rs().Update();
        return 0;
    });
}

int32_t CLogITDbDataAcc::UpdateRecord() {
    return Update();
}

int32_t CLogITDbDataAcc::Delete() {
    return frame(DBACC_E_DELETE, [&] {
        rs().Delete(ado::adAffectCurrent);
        return 0;
    });
}

int32_t CLogITDbDataAcc::AddNewIfSupported() {
    return frame(DBACC_E_ADDNEWIFSUPPORTED, [&] {
        if (!rs().Supports(ado::adAddNew)) return DBACC_E_ADDNEWIFSUPPORTED;
        rs().AddNew();
        return 0;
    });
}

int32_t CLogITDbDataAcc::SetFieldValue(int32_t index, ado::Variant value) {
    return frame(DBACC_E_SETFIELD, [&] {
        rs().Item(ado::Variant::I4(index)).PutValue(value);
        return 0;
    });
}

int32_t CLogITDbDataAcc::GetFieldValue(int32_t index, ado::Variant *out) {
    if (!out) return DBACC_E_INVALIDARG;
    return frame(DBACC_E_GETFIELD, [&] {
        *out = ado::Variant();
        *out = rs().Item(ado::Variant::I4(index)).Value();
        return 0;
    });
}

int32_t CLogITDbDataAcc::MoveLast() {
    return frame(DBACC_E_MOVELAST, [&] {
        rs().MoveLast();
        return 0;
    });
}

int32_t CLogITDbDataAcc::MovePrevious() {
    return frame(DBACC_E_MOVEPREVIOUS, [&] {
        rs().MovePrevious();
        return 0;
    });
}

int32_t CLogITDbDataAcc::MoveNext() {
    return frame(DBACC_E_MOVENEXT, [&] {
        rs().MoveNext();
        return 0;
    });
}

int32_t CLogITDbDataAcc::MoveFirst() {
    return frame(DBACC_E_MOVEFIRST, [&] {
        rs().MoveFirst();
        return 0;
    });
}

int32_t CLogITDbDataAcc::MoveTo(int32_t row) {
    return frame(DBACC_E_MOVELAST, [&] {
        rs().MoveFirst();
        if (row != 0) rs().Move(row);
        return 0;
    });
}

int32_t CLogITDbDataAcc::OpenTableRecordset(const std::u16string &table) {
    return frame(DBACC_E_OPEN, [&] {
        dropRecordset(true);
        recordset_ = std::make_unique<ado::Recordset>();
        ado::Connection &c = conn();
        try {
            recordset_->Open(ado::ToUtf8(table), c, ado::adOpenStatic, ado::adLockOptimistic,
                             ado::adCmdTable);
        } catch (const ado::ComError &e) {
            // The open's own failure leaves the error text as it was.
            return e.hr == ado::kNoTable ? DBACC_E_NOTABLE : DBACC_E_OPEN;
        }
        recordsetOpen_ = 1;
        return 0;
    });
}

int32_t CLogITDbDataAcc::GetConnectionState() {
    return frame(DBACC_E_STATE, [&] { return conn().State(); });
}

int32_t CLogITDbDataAcc::Disconnect() {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    try {
        if (recordset_) {
            if (recordsetOpen_) {
                recordset_->Close();
                recordsetOpen_ = 0;
            }
            recordset_.reset();
        }
        if (connection_) {
            connection_->Close();
            connection_.reset();
        }
        return 0;
    } catch (const ado::ComError &e) {
        SetComError(e);
        return 0;
    } catch (...) {
        return DBACC_E_DISCONNECT;
    }
}

int32_t CLogITDbDataAcc::Noop(int32_t, int32_t) {
    std::lock_guard<std::recursive_mutex> hold(lock_);
    return 0;
}

int32_t CLogITDbDataAcc::Connect(const std::u16string &first, const std::u16string &second,
                                 int32_t) {
    return frame(DBACC_E_CONNECT, [&] {
        connection_ = std::make_unique<ado::Connection>();
        connection_->connectionTimeout = 300;
        connection_->SetCommandTimeout(300);
        connection_->Open(ado::ToUtf8(first + second));
        return 0;
    });
}
