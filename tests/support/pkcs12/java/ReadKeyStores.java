// Opens PKCS#12 files with Java's KeyStore API and prints one line per file:
//   <file> open=yes keys=<n> chain=<fingerprints> keymatch=yes|no trusted=<n> wrong=refused|OPENED empty=refused|OPENED
// Usage: java ReadKeyStores.java <password> <file>...
import java.io.FileInputStream;
import java.security.KeyStore;
import java.security.MessageDigest;
import java.security.PrivateKey;
import java.security.Signature;
import java.security.cert.Certificate;
import java.util.Collections;
import java.util.HexFormat;

public class ReadKeyStores {
    static KeyStore open(String path, char[] password) {
        try (FileInputStream in = new FileInputStream(path)) {
            KeyStore store = KeyStore.getInstance("PKCS12");
            store.load(in, password);
            return store;
        } catch (Exception e) {
            return null;
        }
    }

    static boolean matches(PrivateKey key, Certificate leaf) throws Exception {
        String algorithm = key.getAlgorithm().equals("EC") ? "SHA256withECDSA" : "SHA256withRSA";
        byte[] data = "kiv".getBytes();
        Signature signer = Signature.getInstance(algorithm);
        signer.initSign(key);
        signer.update(data);
        byte[] signature = signer.sign();
        Signature verifier = Signature.getInstance(algorithm);
        verifier.initVerify(leaf.getPublicKey());
        verifier.update(data);
        return verifier.verify(signature);
    }

    public static void main(String[] args) throws Exception {
        char[] password = args[0].toCharArray();
        for (int i = 1; i < args.length; ++i) {
            StringBuilder line = new StringBuilder(args[i]);
            KeyStore store = open(args[i], password);
            if (store == null) {
                line.append(" open=no");
            } else {
                int keys = 0;
                int trusted = 0;
                StringBuilder chain = new StringBuilder();
                boolean keyMatch = true;
                for (String alias : Collections.list(store.aliases())) {
                    if (store.isKeyEntry(alias)) {
                        ++keys;
                        PrivateKey key = (PrivateKey) store.getKey(alias, password);
                        Certificate[] certificates = store.getCertificateChain(alias);
                        keyMatch = keyMatch && key != null && certificates != null && matches(key, certificates[0]);
                        for (Certificate c : certificates == null ? new Certificate[0] : certificates) {
                            if (chain.length() > 0) chain.append(',');
                            chain.append(HexFormat.of().formatHex(MessageDigest.getInstance("SHA-256").digest(c.getEncoded())));
                        }
                    } else if (store.isCertificateEntry(alias)) {
                        ++trusted;
                    }
                }
                line.append(" open=yes keys=").append(keys).append(" chain=").append(chain)
                    .append(" keymatch=").append(keyMatch ? "yes" : "no").append(" trusted=").append(trusted);
            }
            line.append(" wrong=").append(open(args[i], "wrong-password".toCharArray()) == null ? "refused" : "OPENED");
            line.append(" empty=").append(open(args[i], new char[0]) == null ? "refused" : "OPENED");
            System.out.println(line);
        }
    }
}
