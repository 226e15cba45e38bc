// INTERIM until the settings types land in remote/structs_settings.h: the same names, so that
// the field tables need only the include changed.
#pragma once

#include "structs.h"

extern const structs_type structs_password_type;
extern const structs_type structs_server_type;
extern const structs_type structs_time_date_any_type;
extern const structs_type structs_time_period_type;
extern const structs_type structs_eol_type;
extern const structs_type structs_sep_type;
