package com.quendrilax.browser.loader;

import java.io.File;
import java.io.IOException;
import java.io.InputStream;
import java.nio.charset.StandardCharsets;
import java.nio.file.FileSystems;
import java.nio.file.Files;
import java.nio.file.Path;
import java.nio.file.attribute.FileAttribute;
import java.nio.file.attribute.PosixFilePermissions;
import java.security.MessageDigest;
import java.security.NoSuchAlgorithmException;
import java.util.ArrayList;
import java.util.HexFormat;
import java.util.List;
import java.util.Locale;

/**
 * Loads the native libraries once per class loader: QDIEKeystore, for the three classes whose
 * ten natives it implements, and QDIEProvider, for the natives of the QDIE provider. For each it
 * looks, in this order:
 *
 * <ol>
 *   <li>at the file a system property names ({@value #LIBRARY_FILE_PROPERTY} for QDIEKeystore,
 *       {@value #PROVIDER_LIBRARY_FILE_PROPERTY} for QDIEProvider);
 *   <li>in each folder of {@code java.library.path};
 *   <li>in the jar, under {@code META-INF/native/<os>-<arch>/}: the copy for this operating
 *       system and architecture is extracted into a new private temporary folder, checked
 *       against the SHA-256 the jar records for it, loaded with {@link System#load} and
 *       deleted again (where the operating system lets a loaded library be deleted; otherwise
 *       when the JVM exits).
 * </ol>
 *
 * If none succeeds, the {@link UnsatisfiedLinkError} names every place tried and why it failed.
 */
public final class NativeLibraryLoader {

    /** A system property naming the QDIEKeystore file to load, bypassing every other place. */
    public static final String LIBRARY_FILE_PROPERTY = "qdie.library.file";
    /** A system property naming the QDIEProvider file to load, bypassing every other place. */
    public static final String PROVIDER_LIBRARY_FILE_PROPERTY = "qdie.provider.library.file";
    static final String LIBRARY_NAME = "QDIEKeystore";
    static final String PROVIDER_LIBRARY_NAME = "QDIEProvider";
    private static final String RESOURCE_ROOT = "META-INF/native/";

    private static final NativeLibraryLoader KEYSTORE =
            new NativeLibraryLoader(LIBRARY_NAME, LIBRARY_FILE_PROPERTY);
    private static final NativeLibraryLoader PROVIDER =
            new NativeLibraryLoader(PROVIDER_LIBRARY_NAME, PROVIDER_LIBRARY_FILE_PROPERTY);

    private final String name;
    private final String fileProperty;
    private boolean loaded;

    private NativeLibraryLoader(String name, String fileProperty) {
        this.name = name;
        this.fileProperty = fileProperty;
    }

    /** Loads QDIEKeystore, the library of the ten natives, unless it is loaded already. */
    public static void load() {
        KEYSTORE.loadOnce();
    }

    /** Loads QDIEProvider, the library of the provider's natives, unless it is loaded already. */
    public static void loadProvider() {
        PROVIDER.loadOnce();
    }

    private synchronized void loadOnce() {
        if (loaded) return;
        List<String> tried = new ArrayList<>();
        String named = System.getProperty(fileProperty);
        if (named != null && !named.isEmpty()) {
            // An explicit choice is not second-guessed: it loads or the error says why.
            loadFile(Path.of(named).toAbsolutePath(), tried);
            loaded = true;
            return;
        }
        if (loadFromLibraryPath(tried) || loadFromJar(tried)) {
            loaded = true;
            return;
        }
        throw notLoaded(tried);
    }

    private UnsatisfiedLinkError notLoaded(List<String> tried) {
        return new UnsatisfiedLinkError("the native library " + name
                + " could not be loaded; tried: " + String.join("; ", tried));
    }

    /**
     * The jar entry holding a library for an operating system and architecture as the
     * {@code os.name} and {@code os.arch} properties spell them, or null when the jar has no
     * build for that platform.
     */
    public static String resourceFor(String library, String osName, String osArch) {
        String arch = osArch.toLowerCase(Locale.ROOT);
        if (!arch.equals("amd64") && !arch.equals("x86_64")) return null;
        String os = osName.toLowerCase(Locale.ROOT);
        if (os.startsWith("windows")) return RESOURCE_ROOT + "windows-x86_64/" + library + ".dll";
        if (os.equals("linux")) return RESOURCE_ROOT + "linux-x86_64/lib" + library + ".so";
        return null;
    }

    private void loadFile(Path file, List<String> tried) {
        try {
            System.load(file.toString());
        } catch (UnsatisfiedLinkError e) {
            tried.add(file + ": " + e.getMessage());
            throw notLoaded(tried);
        }
    }

    private boolean loadFromLibraryPath(List<String> tried) {
        String fileName = System.mapLibraryName(name);
        String path = System.getProperty("java.library.path", "");
        for (String folder : path.split(File.pathSeparator)) {
            if (folder.isEmpty()) continue;
            Path candidate = Path.of(folder, fileName).toAbsolutePath();
            if (!Files.isRegularFile(candidate)) continue;
            loadFile(candidate, tried);
            return true;
        }
        tried.add("java.library.path (" + (path.isEmpty() ? "empty" : path) + "): no " + fileName);
        return false;
    }

    private boolean loadFromJar(List<String> tried) {
        String resource =
                resourceFor(name, System.getProperty("os.name"), System.getProperty("os.arch"));
        if (resource == null) {
            tried.add("the jar: no build for " + System.getProperty("os.name") + " on "
                    + System.getProperty("os.arch"));
            return false;
        }
        ClassLoader loader = NativeLibraryLoader.class.getClassLoader();
        try (InputStream library = loader.getResourceAsStream(resource);
             InputStream digest = loader.getResourceAsStream(resource + ".sha256")) {
            if (library == null || digest == null) {
                tried.add("the jar: no " + resource + (library == null ? "" : ".sha256"));
                return false;
            }
            String expected = new String(digest.readAllBytes(), StandardCharsets.US_ASCII).trim();
            loadExtracted(library, expected, resource.substring(resource.lastIndexOf('/') + 1),
                    tried);
            return true;
        } catch (IOException e) {
            tried.add("the jar's " + resource + ": " + e);
            return false;
        }
    }

    private void loadExtracted(InputStream library, String expectedSha256, String fileName,
            List<String> tried) throws IOException {
        Path folder = Files.createTempDirectory("qdie-keystore-", ownerOnly());
        Path file = folder.resolve(fileName);
        try {
            String actual = copyAndDigest(library, file);
            if (!actual.equalsIgnoreCase(expectedSha256))
                throw new IOException("the extracted " + fileName + " has SHA-256 " + actual
                        + " where the jar records " + expectedSha256);
            loadFile(file, tried);
        } finally {
            removeOrScheduleRemoval(file, folder);
        }
    }

    /** On POSIX file systems the folder is the user's alone; elsewhere the temp folder is. */
    private static FileAttribute<?>[] ownerOnly() {
        if (!FileSystems.getDefault().supportedFileAttributeViews().contains("posix"))
            return new FileAttribute<?>[0];
        return new FileAttribute<?>[] {
            PosixFilePermissions.asFileAttribute(PosixFilePermissions.fromString("rwx------"))
        };
    }

    /** Copies the library out of the jar and gives the SHA-256 of what is on disk then. */
    private static String copyAndDigest(InputStream in, Path file) throws IOException {
        Files.copy(in, file);
        try (InputStream written = Files.newInputStream(file)) {
            MessageDigest sha256 = MessageDigest.getInstance("SHA-256");
            byte[] buffer = new byte[64 * 1024];
            for (int n; (n = written.read(buffer)) > 0; ) sha256.update(buffer, 0, n);
            return HexFormat.of().formatHex(sha256.digest());
        } catch (NoSuchAlgorithmException e) {
            throw new IllegalStateException("every JDK has SHA-256", e);
        }
    }

    // Linux keeps a loaded library mapped after its file is gone; Windows refuses the deletion
    // while the DLL is loaded, and the copy then goes when the JVM exits, if Windows allows.
    private static void removeOrScheduleRemoval(Path file, Path folder) {
        try {
            Files.deleteIfExists(file);
            Files.deleteIfExists(folder);
        } catch (IOException e) {
            folder.toFile().deleteOnExit();
            file.toFile().deleteOnExit();
        }
    }
}
