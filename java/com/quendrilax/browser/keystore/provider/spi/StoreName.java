package com.quendrilax.browser.keystore.provider.spi;

import java.util.Locale;

/** The name of a system store of the current user, checked before it reaches the library. */
final class StoreName {

    /** The personal store, in any case. */
    static final String PERSONAL = "My";
    static final String ROOT = "Root";
    static final String INTERMEDIATE = "CA";
    private static final String CURRENT_USER = "currentuser";
    private static final String LOCAL_MACHINE = "localmachine";
    private static final int MAX_LENGTH = 255;

    private StoreName() {}

    /**
     * The store name the library opens for {@code name}: a bare system store name, or one
     * prefixed with {@code CurrentUser\}.
     *
     * @throws IllegalArgumentException for a store of the local machine, which the library
     *     cannot reach, or a name that is no system store name
     */
    static String of(String name) {
        String bare = name;
        int separator = Math.max(name.indexOf('\\'), name.indexOf('/'));
        if (separator >= 0) {
            String location = name.substring(0, separator).toLowerCase(Locale.ROOT);
            if (location.equals(LOCAL_MACHINE))
                throw new IllegalArgumentException("\"" + name + "\": the stores of the local"
                        + " machine are out of reach; the library opens the current user's stores only");
            if (!location.equals(CURRENT_USER))
                throw new IllegalArgumentException("\"" + name + "\" is no system store name");
            bare = name.substring(separator + 1);
        }
        if (bare.isEmpty() || bare.length() > MAX_LENGTH
                || !bare.chars().allMatch(c -> c >= 0x20 && c < 0x7f && c != '\\' && c != '/'))
            throw new IllegalArgumentException("\"" + name + "\" is no system store name: 1 to "
                    + MAX_LENGTH + " printable ASCII characters without / or \\");
        return bare;
    }

    static boolean isPersonal(String name) {
        return name.equalsIgnoreCase(PERSONAL);
    }
}
