package com.quendrilax.browser.keystore.provider.spi;

/** A system store, its location and its name, checked before they reach the library. */
final class StoreName {

    /** The personal store, in any case. */
    static final String PERSONAL = "My";
    static final String ROOT = "Root";
    static final String INTERMEDIATE = "CA";
    private static final int MAX_LENGTH = 255;

    final StoreLocation location;
    final String name;

    private StoreName(StoreLocation location, String name) {
        this.location = location;
        this.name = name;
    }

    /** The store of this name in the location; the name is checked as {@link #of} checks it. */
    static StoreName in(StoreLocation location, String name) {
        if (name.isEmpty() || name.length() > MAX_LENGTH
                || !name.chars().allMatch(c -> c >= 0x20 && c < 0x7f && c != '\\' && c != '/'))
            throw new IllegalArgumentException("\"" + name + "\" is no system store name: 1 to "
                    + MAX_LENGTH + " printable ASCII characters without / or \\");
        return new StoreName(location, name);
    }

    /**
     * The store {@code text} names: a bare system store name, the current user's, or one
     * prefixed with its location, {@code CurrentUser\} or {@code LocalMachine\} in any case.
     *
     * @throws IllegalArgumentException for a name that is no system store name
     */
    static StoreName of(String text) {
        int separator = Math.max(text.indexOf('\\'), text.indexOf('/'));
        if (separator < 0) return in(StoreLocation.CURRENT_USER, text);
        String prefix = text.substring(0, separator);
        for (StoreLocation location : StoreLocation.values()) {
            if (location.windowsName.equalsIgnoreCase(prefix))
                return in(location, text.substring(separator + 1));
        }
        throw new IllegalArgumentException("\"" + text + "\" is no system store name: the"
                + " location is CurrentUser or LocalMachine");
    }

    /** Another store of the same location. */
    StoreName sibling(String otherName) {
        return in(location, otherName);
    }

    boolean isPersonal() {
        return name.equalsIgnoreCase(PERSONAL);
    }

    /** The same store: the location and the name ignoring case, as Windows compares them. */
    boolean sameStore(StoreName other) {
        return location == other.location && name.equalsIgnoreCase(other.name);
    }

    /** The name as the user's messages give it: a store of the machine says so. */
    @Override
    public String toString() {
        return location == StoreLocation.CURRENT_USER ? name
                : location.windowsName + "\\" + name;
    }
}
