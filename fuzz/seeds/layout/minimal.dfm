object Form1: TForm1
  object btn2: TButton
  end
  object memolista: TMemo
  end
  object lblmsg: TLabel
  end
end
