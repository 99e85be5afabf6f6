object Form1: TForm1
  Font.Height = -2147483648
  object lblmsg: TLabel
    Caption = 'Wide text'
    Font.Height = -2147483648
  end
  object btn2: TButton
   Font.Height = -2147483648
  end
  object memolista: TMemo
  end
end
