package com.quendrilax.browser.loader;

import static org.junit.jupiter.api.Assertions.assertEquals;
import static org.junit.jupiter.api.Assertions.assertNull;

import org.junit.jupiter.api.Test;

class NativeLibraryLoaderTest {

    @Test
    void jarEntryIsChosenByOperatingSystemAndArchitecture() {
        assertEquals("META-INF/native/windows-x86_64/QDIEKeystore.dll",
                NativeLibraryLoader.resourceFor("QDIEKeystore", "Windows 11", "amd64"));
        assertEquals("META-INF/native/windows-x86_64/QDIEProvider.dll",
                NativeLibraryLoader.resourceFor("QDIEProvider", "Windows Server 2022", "AMD64"));
        assertEquals("META-INF/native/linux-x86_64/libQDIEProvider.so",
                NativeLibraryLoader.resourceFor("QDIEProvider", "Linux", "amd64"));
        assertNull(NativeLibraryLoader.resourceFor("QDIEKeystore", "Linux", "aarch64"));
        assertNull(NativeLibraryLoader.resourceFor("QDIEKeystore", "Windows 11", "x86"));
        assertNull(NativeLibraryLoader.resourceFor("QDIEProvider", "Mac OS X", "x86_64"));
    }
}
