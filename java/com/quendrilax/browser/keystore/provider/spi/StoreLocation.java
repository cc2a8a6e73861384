package com.quendrilax.browser.keystore.provider.spi;

/** Where a system store is, by the name certutil and PowerShell give the location. */
enum StoreLocation {
    CURRENT_USER("CurrentUser"),
    LOCAL_MACHINE("LocalMachine");

    final String windowsName;

    StoreLocation(String windowsName) {
        this.windowsName = windowsName;
    }

    /** What the library's natives take: whether the store is the machine's. */
    boolean isMachine() {
        return this == LOCAL_MACHINE;
    }
}
