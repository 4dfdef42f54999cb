// The example application that vmkick starts. Each run appends one line to hello-run.log
// in the working directory, naming that directory and the arguments, so anyone can see
// what the launcher passed on; then it greets the user in a small window. Where Java has
// no display (a headless runtime) it ends after writing the line.
//
// Written in the Java of the oldest runtime that vmkick.cfg accepts (1.4.1).

import java.awt.BorderLayout;
import java.awt.Button;
import java.awt.Frame;
import java.awt.GraphicsEnvironment;
import java.awt.Label;
import java.awt.event.ActionEvent;
import java.awt.event.ActionListener;
import java.awt.event.WindowAdapter;
import java.awt.event.WindowEvent;
import java.io.File;
import java.io.FileOutputStream;
import java.io.IOException;
import java.io.OutputStreamWriter;
import java.io.Writer;

public class Hello {
    public static void main(String[] args) throws IOException {
        String directory = System.getProperty("user.dir");
        String line = describeRun(directory, args);
        appendLine(new File(directory, "hello-run.log"), line);
        if (!GraphicsEnvironment.isHeadless()) showWindow(args.length);
    }

    // "hello ran in <directory> with 2 arguments: [one] [two words]": the brackets show
    // where each argument begins and ends, blanks included.
    static String describeRun(String directory, String[] args) {
        StringBuffer line = new StringBuffer("hello ran in ");
        line.append(directory).append(" with ").append(args.length);
        line.append(args.length == 1 ? " argument:" : " arguments:");
        for (int i = 0; i < args.length; i++) line.append(" [").append(args[i]).append(']');
        return line.toString();
    }

    static void appendLine(File file, String line) throws IOException {
        Writer out = new OutputStreamWriter(new FileOutputStream(file, true), "UTF-8");
        try {
            out.write(line + "\n");
        } finally {
            out.close();
        }
    }

    static void showWindow(int argumentCount) {
        final Frame frame = new Frame("Hello");
        frame.add(new Label("Hello! vmkick started this program with " + argumentCount
                + (argumentCount == 1 ? " argument." : " arguments."), Label.CENTER), BorderLayout.CENTER);
        Button close = new Button("Close");
        close.addActionListener(new ActionListener() {
            public void actionPerformed(ActionEvent e) {
                frame.dispose();
            }
        });
        frame.add(close, BorderLayout.SOUTH);
        frame.addWindowListener(new WindowAdapter() {
            public void windowClosing(WindowEvent e) {
                frame.dispose();
            }
        });
        frame.setSize(360, 120);
        frame.setLocationRelativeTo(null);
        frame.setVisible(true);
    }
}
