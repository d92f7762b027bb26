import java.applet.Applet;
public class lumetradata extends Applet {
}
