import java.applet.Applet;
public class lumetradata extends Applet {
public static long lumetracoords[] = {4
};
public static double lumetradata[] = {2
};
}
