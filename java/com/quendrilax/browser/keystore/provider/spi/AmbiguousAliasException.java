package com.quendrilax.browser.keystore.provider.spi;

import java.security.ProviderException;
import java.util.List;

/**
 * An alias that several certificates of a store give themselves: it names none of them, and
 * each is reached by its thumbprint, so that an alias written down never comes to name another
 * certificate than the one it named.
 */
final class AmbiguousAliasException extends ProviderException {

    private static final long serialVersionUID = 1L;

    AmbiguousAliasException(String alias, String storeName, List<String> thumbprints) {
        super("the alias \"" + alias + "\" of the store \"" + storeName + "\" is shared by the"
                + " certificates " + String.join(" and ", thumbprints) + ", so it names neither:"
                + " name the entry by its thumbprint");
    }
}
