package com.quendrilax.browser.loader;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import org.junit.jupiter.api.Test;

class NativeLibraryLoaderTest {

    @Test
    void jarEntryIsChosenByOperatingSystemAndArchitecture() {
        assertEquals("META-INF/native/windows-x86_64/QDIEKeystore.dll",
                NativeLibraryLoader.resourceFor("Windows 11", "amd64"));
        assertEquals("META-INF/native/windows-x86_64/QDIEKeystore.dll",
                NativeLibraryLoader.resourceFor("Windows Server 2022", "AMD64"));
        assertEquals("META-INF/native/linux-x86_64/libQDIEKeystore.so",
                NativeLibraryLoader.resourceFor("Linux", "amd64"));
        assertNull(NativeLibraryLoader.resourceFor("Linux", "aarch64"));
        assertNull(NativeLibraryLoader.resourceFor("Windows 11", "x86"));
        assertNull(NativeLibraryLoader.resourceFor("Mac OS X", "x86_64"));
    }
}
