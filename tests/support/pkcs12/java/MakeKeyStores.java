// Writes the password-less PKCS#12 files Java's KeyStore API makes with the empty password.
// Usage: java MakeKeyStores.java <out folder> <PKCS#8 key PEM> <leaf PEM> <issuer PEM>...
import java.io.FileInputStream;
import java.io.FileOutputStream;
import java.nio.file.Files;
import java.nio.file.Path;
import java.security.KeyFactory;
import java.security.KeyStore;
import java.security.PrivateKey;
import java.security.cert.Certificate;
import java.security.cert.CertificateFactory;
import java.security.spec.PKCS8EncodedKeySpec;
import java.util.Base64;

public class MakeKeyStores {
    static Certificate certificate(String path) throws Exception {
        try (FileInputStream in = new FileInputStream(path)) {
            return CertificateFactory.getInstance("X.509").generateCertificate(in);
        }
    }

    static PrivateKey key(String path, String algorithm) throws Exception {
        String pem = Files.readString(Path.of(path));
        String body = pem.replaceAll("-----[A-Z ]+-----", "").replaceAll("\\s", "");
        return KeyFactory.getInstance(algorithm).generatePrivate(new PKCS8EncodedKeySpec(Base64.getDecoder().decode(body)));
    }

    // The properties are read when a key store is created and stored.
    static void write(String path, PrivateKey key, Certificate[] chain, String macAlgorithm, String certProtection)
            throws Exception {
        if (macAlgorithm != null) System.setProperty("keystore.pkcs12.macAlgorithm", macAlgorithm);
        else System.clearProperty("keystore.pkcs12.macAlgorithm");
        if (certProtection != null) System.setProperty("keystore.pkcs12.certProtectionAlgorithm", certProtection);
        else System.clearProperty("keystore.pkcs12.certProtectionAlgorithm");
        KeyStore store = KeyStore.getInstance("PKCS12");
        store.load(null, null);
        store.setKeyEntry("leaf", key, new char[0], chain);
        try (FileOutputStream out = new FileOutputStream(path)) {
            store.store(out, new char[0]);
        }
    }

    public static void main(String[] args) throws Exception {
        Certificate[] chain = new Certificate[args.length - 2];
        for (int i = 2; i < args.length; ++i) chain[i - 2] = certificate(args[i]);
        PrivateKey key = key(args[1], chain[0].getPublicKey().getAlgorithm());
        write(args[0] + "/java-default.p12", key, chain, null, null);
        write(args[0] + "/java-nomac.p12", key, chain, "NONE", null);
        write(args[0] + "/java-plaincerts.p12", key, chain, null, "NONE");
    }
}
