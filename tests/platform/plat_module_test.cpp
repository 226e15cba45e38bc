#include "plat_module.h"

#include <cerrno>
#include <gtest/gtest.h>

TEST(PlatModule, MissingModuleFailsWithModNotFound) {
    EXPECT_EQ(plat_ModuleLoad("KVT_no_such_module.so"), nullptr);
    EXPECT_EQ(errno, 126);
    EXPECT_EQ(plat_ModuleLoad("/no/such/folder/x.so"), nullptr);
    EXPECT_EQ(plat_ModuleLoad(""), nullptr);
}

TEST(PlatModule, SymbolsOfALoadedModuleAreFoundAndAbsentOnesAreNull) {
    void *libm = plat_ModuleLoad("libm.so.6");
    ASSERT_NE(libm, nullptr);
    EXPECT_NE(plat_ModuleSymbol(libm, "cos"), nullptr);
    EXPECT_EQ(plat_ModuleSymbol(libm, "Ex_No_Such_Entry"), nullptr);
    EXPECT_EQ(plat_ModuleSymbol(nullptr, "cos"), nullptr);
    plat_ModuleFree(libm);
}
